#ifndef VESKDAL_SQLEXPRESSION_H
#define VESKDAL_SQLEXPRESSION_H

// Inner form of an operand (not installed): what a SqlColumnPtr shares between its copies.

#include <string>
#include <vector>

#include "VeskDal/SqlColumn.h"
#include "VeskDal/SqlTable.h"
#include "VeskDal/SqlValue.h"

namespace VeskDal {

class SqlExpression {
public:
    SqlColumnPtr::Kind kind = SqlColumnPtr::kindInvalid;
    SqlTable table;                    // column
    std::string strName;               // column or function
    std::string strAlias;              // column or function
    std::vector<SqlColumnPtr> argumentS;  // function
    SqlValue value;                    // value (its alias is the value's own)
};

} // namespace VeskDal

#endif
