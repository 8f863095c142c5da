#ifndef VESKDAL_SQLQUERYBASE_H
#define VESKDAL_SQLQUERYBASE_H

#include <vector>

#include "VeskDal/Export.h"
#include "VeskDal/SqlColumn.h"
#include "VeskDal/SqlStatement.h"
#include "VeskDal/SqlTable.h"

namespace VeskDal {

// Base of the classes that know one table: the columns built with `this` register here, in the
// order they are built. Not copyable, since the registration points at the object's own members.
class VESKDAL_API SqlQueryBase {
public:
    enum QueryType : int { brief = 0, full = 1, min = 2, max = 3, count = 4 };
    enum ValueValidity : int { validOnly = 0, invalidToo = 1 };

    SqlQueryBase() = default;
    SqlQueryBase(const SqlQueryBase&) = delete;
    SqlQueryBase& operator=(const SqlQueryBase&) = delete;
    virtual ~SqlQueryBase();

    // The query's table: by default the table of the first registered column.
    // Throws SqlException(SQLERR_NOTABLE) when no column is registered.
    virtual const SqlTable& table() const;
    // Adds the registered columns in registration order: validOnly those holding a valid value,
    // invalidToo all of them.
    void addColumns(SqlStatement& statement, ValueValidity validity) const;
    // The registered columns, in registration order (not owned).
    const std::vector<SqlColumn*>& registeredColumnS() const { return _columnS; }

private:
    friend class SqlColumn;
    void registerColumn(SqlColumn* pcolumn);
    void unregisterColumn(SqlColumn* pcolumn);

    std::vector<SqlColumn*> _columnS;  // not owned
};

} // namespace VeskDal

#endif
