#include "VeskDal/SqlColumn.h"

#include <algorithm>

#include "VeskDal/BuildSupport.h"
#include "VeskDal/SqlCondition.h"
#include "VeskDal/SqlException.h"
#include "VeskDal/SqlExpression.h"
#include "VeskDal/SqlQueryBase.h"

namespace VeskDal {

// ---- SqlColumnPtr

SqlColumnPtr::SqlColumnPtr() = default;

SqlColumnPtr::SqlColumnPtr(const SqlColumn& column) : _pexpression(column._self._pexpression) {}

SqlColumnPtr::SqlColumnPtr(const SqlFunction& function)
{
    auto pexpression = std::make_shared<SqlExpression>();
    pexpression->kind = kindFunction;
    pexpression->strName = function.name();
    pexpression->strAlias = function.alias();
    pexpression->argumentS = function.argumentS();
    _pexpression = std::move(pexpression);
}

SqlColumnPtr::SqlColumnPtr(const SqlValue& value)
{
    if (value.isValid()) {
        auto pexpression = std::make_shared<SqlExpression>();
        pexpression->kind = kindValue;
        pexpression->value = value;
        _pexpression = std::move(pexpression);
    }
}

SqlColumnPtr::Kind SqlColumnPtr::kind() const
{
    return _pexpression ? _pexpression->kind : kindInvalid;
}

const SqlValue& SqlColumnPtr::value() const
{
    static const SqlValue s_invalid;
    return _pexpression && _pexpression->kind == kindValue ? _pexpression->value : s_invalid;
}

std::string SqlColumnPtr::resultName() const
{
    if (!_pexpression) {
        return std::string();
    }
    if (_pexpression->kind == kindValue) {
        return _pexpression->value.alias();
    }
    return _pexpression->strAlias.empty() ? _pexpression->strName : _pexpression->strAlias;
}

// ---- SqlColumn

SqlColumnPtr SqlColumn::operand(const SqlTable& table, const std::string& strName, const std::string& strAlias)
{
    auto pexpression = std::make_shared<SqlExpression>();
    pexpression->kind = SqlColumnPtr::kindColumn;
    pexpression->table = table;
    pexpression->strName = strName;
    pexpression->strAlias = strAlias;
    return SqlColumnPtr(std::move(pexpression));
}

SqlColumn::SqlColumn(SqlQueryBase* pquery, const SqlTable& table, const std::string& strName,
                     const std::string& strAlias)
    : _pquery(pquery), _self(operand(table, strName, strAlias))
{
    if (_pquery) {
        _pquery->registerColumn(this);
    }
}

SqlColumn::SqlColumn(const SqlTable& table, const std::string& strName, const std::string& strAlias)
    : _pquery(nullptr), _self(operand(table, strName, strAlias))
{
}

SqlColumn::SqlColumn(const SqlColumn& other) : _pquery(nullptr), _self(other._self), _value(other._value) {}

SqlColumn& SqlColumn::operator=(const SqlColumn& other)
{
    if (this != &other) {
        _self = other._self;
        _value = other._value;
    }
    return *this;
}

SqlColumn::~SqlColumn()
{
    if (_pquery) {
        _pquery->unregisterColumn(this);
    }
}

const SqlTable& SqlColumn::table() const
{
    return _self.expression()->table;
}

const std::string& SqlColumn::name() const
{
    return _self.expression()->strName;
}

const std::string& SqlColumn::alias() const
{
    return _self.expression()->strAlias;
}

std::string SqlColumn::resultName() const
{
    const SqlExpression& expression = *_self.expression();
    return expression.strAlias.empty() ? expression.strName : expression.strAlias;
}

// ---- SqlFunction

SqlFunction::SqlFunction(const std::string& strName, const std::string& strAlias)
    : _strName(strName), _strAlias(strAlias)
{
}

SqlFunction& SqlFunction::addColumn(const SqlColumnPtr& argument)
{
    _argumentS.push_back(argument);
    return *this;
}

std::string SqlFunction::resultName() const
{
    return _strAlias.empty() ? _strName : _strAlias;
}

// ---- conditions

SqlCondition::SqlCondition(const SqlColumnPtr& lhs, const SqlColumnPtr& rhs, Condition condition)
    : _lhs(lhs), _rhs(rhs), _condition(condition)
{
}

SqlCondition::SqlCondition(const SqlColumnPtr& column, const SqlValue& value, Condition condition,
                           SqlConditionModifier modifier)
    : _lhs(column), _rhs(value), _condition(condition), _modifier(modifier)
{
}

SqlConditionPtr::SqlConditionPtr(const SqlCondition& condition)
    : _pcondition(std::make_shared<const SqlCondition>(condition))
{
}

SqlConditionPtr::SqlConditionPtr(const SqlCompoundCondition& compound)
    : _pcompound(std::make_shared<const SqlCompoundCondition>(compound))
{
}

SqlCompoundCondition& SqlCompoundCondition::addCondition(const SqlCondition& condition)
{
    makeRoom(_conditionS, 4);
    _conditionS.emplace_back(condition);
    return *this;
}

SqlCompoundCondition& SqlCompoundCondition::addCondition(const SqlCompoundCondition& compound)
{
    makeRoom(_conditionS, 4);
    _conditionS.emplace_back(compound);
    return *this;
}

SqlCompoundCondition& SqlCompoundCondition::addCondition(const SqlConditionPtr& condition)
{
    if (condition.isValid()) {
        makeRoom(_conditionS, 4);
        _conditionS.push_back(condition);
    }
    return *this;
}

// ---- SqlQueryBase

SqlQueryBase::~SqlQueryBase()
{
    // Columns that outlive the query must not reach back into it.
    for (SqlColumn* pcolumn : _columnS) {
        pcolumn->_pquery = nullptr;
    }
}

const SqlTable& SqlQueryBase::table() const
{
    if (_columnS.empty()) {
        throw SqlException(__FILE__, __LINE__, SQLERR_NOTABLE, std::string());
    }
    return _columnS.front()->table();
}

void SqlQueryBase::addColumns(SqlStatement& statement, ValueValidity validity) const
{
    for (const SqlColumn* pcolumn : _columnS) {
        if (validity == invalidToo || pcolumn->isValid()) {
            statement.addColumn(*pcolumn);
        }
    }
}

void SqlQueryBase::registerColumn(SqlColumn* pcolumn)
{
    makeRoom(_columnS, 16);
    _columnS.push_back(pcolumn);
}

void SqlQueryBase::unregisterColumn(SqlColumn* pcolumn)
{
    _columnS.erase(std::remove(_columnS.begin(), _columnS.end(), pcolumn), _columnS.end());
}

} // namespace VeskDal
