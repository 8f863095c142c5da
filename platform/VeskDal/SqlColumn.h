#ifndef VESKDAL_SQLCOLUMN_H
#define VESKDAL_SQLCOLUMN_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "VeskDal/Export.h"
#include "VeskDal/SqlTable.h"
#include "VeskDal/SqlValue.h"

namespace VeskDal {

class SqlColumn;
class SqlFunction;
class SqlQueryBase;
class SqlExpression;

// An operand of a statement: a reference to a column, a function call or a value; or nothing
// (invalid). Made from a column it refers to the column's table, name and alias, not its value.
// It holds an immutable snapshot shared between copies, so it may be made from temporaries and
// outlive them.
class VESKDAL_API SqlColumnPtr {
public:
    enum Kind { kindInvalid = 0, kindColumn = 1, kindFunction = 2, kindValue = 3 };

    // Invalid.
    SqlColumnPtr();
    SqlColumnPtr(const SqlColumn& column);
    SqlColumnPtr(const SqlFunction& function);
    // Invalid when the value is.
    SqlColumnPtr(const SqlValue& value);

    bool isValid() const { return _pexpression != nullptr; }
    Kind kind() const;
    // The value of a value operand; an invalid value for any other kind.
    const SqlValue& value() const;
    // The name a selected operand is reported under: its alias, else the column or function name.
    std::string resultName() const;

    // The snapshot, for the renderer; null when invalid.
    const SqlExpression* expression() const { return _pexpression.get(); }

private:
    friend class SqlColumn;
    explicit SqlColumnPtr(std::shared_ptr<const SqlExpression> pexpression) : _pexpression(std::move(pexpression)) {}

    std::shared_ptr<const SqlExpression> _pexpression;
};

// A column of a table, with an optional alias and the value an insert or update writes into it.
// A column built with a query registers itself with it (SqlQueryBase::addColumns finds it there)
// and unregisters when destroyed; copies are never registered. Table, name and alias are kept as
// the immutable snapshot that operands made from the column share, so a column put into several
// statements and conditions is not copied again for each.
class VESKDAL_API SqlColumn {
public:
    // Registers the column with pquery (unless null).
    SqlColumn(SqlQueryBase* pquery, const SqlTable& table, const std::string& strName,
              const std::string& strAlias = std::string());
    // A free column, not registered with any query.
    SqlColumn(const SqlTable& table, const std::string& strName, const std::string& strAlias = std::string());
    // Copies table, name, alias and value; the copy is not registered.
    SqlColumn(const SqlColumn& other);
    // Copies table, name, alias and value; the target keeps its own registration.
    SqlColumn& operator=(const SqlColumn& other);
    virtual ~SqlColumn();

    const SqlTable& table() const;
    const std::string& name() const;
    // Empty when the column has no alias.
    const std::string& alias() const;
    // The name a result row holds this column under: the alias when there is one, else the name.
    virtual std::string resultName() const;

    // Sets the value an insert or update writes (an invalid pointer clears it).
    void setValue(const SqlColumnPtr& value) { _value = value; }
    const SqlColumnPtr& value() const { return _value; }
    // Whether the column holds a valid value.
    bool isValid() const { return _value.isValid(); }
    void clearValue() { _value = SqlColumnPtr(); }

private:
    friend class SqlQueryBase;
    friend class SqlColumnPtr;

    // The operand referring to a column of table under the name and alias.
    static SqlColumnPtr operand(const SqlTable& table, const std::string& strName, const std::string& strAlias);

    SqlQueryBase* _pquery;  // not owned; cleared by the query when it goes first
    SqlColumnPtr _self;     // table, name and alias, as an operand referring to the column
    SqlColumnPtr _value;
};

// A function call over columns (MAX, MIN, COUNT, ...). COUNT without an argument is COUNT(*).
class VESKDAL_API SqlFunction {
public:
    // The name must be a plain SQL word (letters, digits, underscores); checked when rendered.
    explicit SqlFunction(const std::string& strName, const std::string& strAlias = std::string());
    virtual ~SqlFunction() = default;

    // Appends an argument; returns this function.
    SqlFunction& addColumn(const SqlColumnPtr& argument);

    const std::string& name() const { return _strName; }
    const std::string& alias() const { return _strAlias; }
    const std::vector<SqlColumnPtr>& argumentS() const { return _argumentS; }
    // The alias when there is one, else the function name.
    virtual std::string resultName() const;

private:
    std::string _strName;
    std::string _strAlias;
    std::vector<SqlColumnPtr> _argumentS;
};

} // namespace VeskDal

#endif
