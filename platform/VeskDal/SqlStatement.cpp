#include "VeskDal/SqlStatement.h"

#include <cctype>
#include <charconv>

#include "VeskDal/BuildSupport.h"
#include "VeskDal/SqlException.h"
#include "VeskDal/SqlExpression.h"

namespace VeskDal {

namespace {

// Deeper nesting than this is a caller's runaway loop, not a query.
constexpr int g_nMaxDepth = 64;

// The escape character of LIKE patterns made from literal text; chosen because no engine treats it
// specially inside a string literal.
constexpr char g_cLikeEscape = '!';

std::string likePattern(const std::string& strValue, LikeModifier like)
{
    std::string strPattern;
    strPattern.reserve(strValue.size() + 2);
    if (like == likeContains || like == likeEndsWith) {
        strPattern += '%';
    }
    // As is, the value's wildcards keep their meaning and only the escape itself is escaped.
    const bool bLiteral = like != likeAsIs;
    for (char c : strValue) {
        if (c == g_cLikeEscape || (bLiteral && (c == '%' || c == '_'))) {
            strPattern += g_cLikeEscape;
        }
        strPattern += c;
    }
    if (like == likeContains || like == likeStartsWith) {
        strPattern += '%';
    }
    return strPattern;
}

// Writes one statement: identifiers quoted per dialect, values as placeholders.
class Writer {
public:
    Writer(SqlLanguage language, SqlRendering& rendering) : _language(language), _rendering(rendering)
    {
        if (language != langSQLite && language != langPostgreSQL && language != langMySQL) {
            throw SqlException(__FILE__, __LINE__, SQLERR_BADLANGUAGE, std::to_string(static_cast<int>(language)));
        }
    }

    // Tables whose columns may appear (the statement's own, then those of joinS when given; both
    // outlive the writer); bQualify writes columns as "table"."column".
    void setScope(const SqlTable& table, const std::vector<SqlJoin>* pjoinS, bool bQualify, bool bMatchAlias)
    {
        _ptable = &table;
        _pjoinS = pjoinS;
        _bQualify = bQualify;
        _bMatchAlias = bMatchAlias;
    }

    void text(const char* psz) { _rendering.strSql += psz; }
    void text(const std::string& str) { _rendering.strSql += str; }

    void identifier(const std::string& strName)
    {
        if (strName.empty()) {
            throw SqlException(__FILE__, __LINE__, SQLERR_EMPTYNAME, std::string());
        }
        const char cQuote = _language == langMySQL ? '`' : '"';
        std::string& strSql = _rendering.strSql;
        strSql += cQuote;
        // Most names hold neither a quote nor a NUL and go in whole.
        bool bPlain = true;
        for (char c : strName) {
            bPlain = bPlain && c != cQuote && c != '\0';
        }
        if (bPlain) {
            strSql += strName;
        } else {
            for (char c : strName) {
                if (c == '\0') {
                    throw SqlException(__FILE__, __LINE__, SQLERR_BADIDENTIFIER, "a name holds a NUL character");
                }
                if (c == cQuote) {
                    strSql += cQuote;
                }
                strSql += c;
            }
        }
        strSql += cQuote;
    }

    void tableName(const SqlTable& table)
    {
        if (table.schema().qualifies()) {
            identifier(table.schema().name());
            text(".");
        }
        identifier(table.name());
    }

    void tableDeclaration(const SqlTable& table)
    {
        tableName(table);
        if (!table.alias().empty()) {
            text(" AS ");
            identifier(table.alias());
        }
    }

    void placeholder(const SqlValue& value)
    {
        makeRoom(_rendering.parameterS, 4);
        _rendering.parameterS.push_back(value);
        placeholderMark();
    }
    void placeholder(SqlValue&& value)
    {
        makeRoom(_rendering.parameterS, 4);
        _rendering.parameterS.push_back(std::move(value));
        placeholderMark();
    }

    void expression(const SqlColumnPtr& operand, int nDepth = 0)
    {
        const SqlExpression* pexpression = operand.expression();
        if (!pexpression) {
            throw SqlException(__FILE__, __LINE__, SQLERR_INVALIDOPERAND, std::string());
        }
        if (nDepth > g_nMaxDepth) {
            throw SqlException(__FILE__, __LINE__, SQLERR_INVALIDOPERAND, "functions nested too deeply");
        }
        switch (pexpression->kind) {
        case SqlColumnPtr::kindColumn:
            column(*pexpression);
            break;
        case SqlColumnPtr::kindValue:
            placeholder(pexpression->value);
            break;
        case SqlColumnPtr::kindFunction:
            function(*pexpression, nDepth);
            break;
        default:
            throw SqlException(__FILE__, __LINE__, SQLERR_INVALIDOPERAND, std::string());
        }
    }

    // A selected operand, under its result name when it needs one to be found in the row.
    void selected(const SqlColumnPtr& operand)
    {
        expression(operand);
        const SqlExpression* pexpression = operand.expression();
        // A column is found under its own name unless it has an alias; anything else is named by
        // its result name when it has one.
        const std::string* pstrName = nullptr;
        switch (pexpression->kind) {
        case SqlColumnPtr::kindColumn:
            pstrName = &pexpression->strAlias;
            break;
        case SqlColumnPtr::kindValue:
            pstrName = &pexpression->value.alias();
            break;
        default:
            pstrName = pexpression->strAlias.empty() ? &pexpression->strName : &pexpression->strAlias;
            break;
        }
        if (!pstrName->empty()) {
            text(" AS ");
            identifier(*pstrName);
        }
    }

    // Column references of a statement without its own qualification (insert, update, delete).
    void bareColumn(const SqlColumnPtr& operand)
    {
        const SqlExpression* pexpression = operand.expression();
        if (!pexpression || pexpression->kind != SqlColumnPtr::kindColumn) {
            throw SqlException(__FILE__, __LINE__, SQLERR_INVALIDOPERAND, "a column is needed here");
        }
        column(*pexpression);
    }

    void condition(const SqlConditionPtr& conditionPtr, int nDepth)
    {
        if (nDepth > g_nMaxDepth) {
            throw SqlException(__FILE__, __LINE__, SQLERR_BADCONDITION, "conditions nested too deeply");
        }
        if (const SqlCondition* pcondition = conditionPtr.condition()) {
            single(*pcondition);
        } else if (const SqlCompoundCondition* pcompound = conditionPtr.compound()) {
            compound(*pcompound, nDepth, true);
        }
    }

    // The condition of a WHERE clause or join: at least one condition, no outer parentheses.
    void topCondition(const SqlConditionPtr& conditionPtr)
    {
        const SqlCompoundCondition* pcompound = conditionPtr.compound();
        if (pcompound) {
            if (pcompound->count() == 0) {
                throw SqlException(__FILE__, __LINE__, SQLERR_EMPTYCONDITION, std::string());
            }
            compound(*pcompound, 0, false);
        } else {
            condition(conditionPtr, 0);
        }
    }

private:
    void column(const SqlExpression& expression)
    {
        const SqlTable* pscope = nullptr;
        if (inScope(*_ptable, expression.table)) {
            pscope = _ptable;
        } else if (_pjoinS) {
            for (const SqlJoin& join : *_pjoinS) {
                if (inScope(join.table(), expression.table)) {
                    pscope = &join.table();
                    break;
                }
            }
        }
        if (!pscope) {
            throw SqlException(__FILE__, __LINE__, SQLERR_FOREIGNCOLUMN,
                               expression.table.reference() + "." + expression.strName);
        }
        if (_bQualify) {
            identifier(pscope->reference());
            text(".");
        }
        identifier(expression.strName);
    }

    bool inScope(const SqlTable& table, const SqlTable& columnTable) const
    {
        return _bMatchAlias ? table == columnTable
                            : table.name() == columnTable.name() &&
                                  table.schema().name() == columnTable.schema().name();
    }

    void placeholderMark()
    {
        if (_language == langPostgreSQL) {
            char szNumber[24];
            auto [pszEnd, ec] = std::to_chars(szNumber, szNumber + sizeof szNumber, _rendering.parameterS.size());
            (void)ec;
            _rendering.strSql += '$';
            _rendering.strSql.append(szNumber, pszEnd);
        } else {
            _rendering.strSql += '?';
        }
    }

    void function(const SqlExpression& expression, int nDepth)
    {
        const std::string& strName = expression.strName;
        if (strName.empty()) {
            throw SqlException(__FILE__, __LINE__, SQLERR_EMPTYNAME, "function");
        }
        bool bWord = strName.size() <= 64 && !std::isdigit(static_cast<unsigned char>(strName[0]));
        for (char c : strName) {
            bWord = bWord && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
        }
        if (!bWord) {
            throw SqlException(__FILE__, __LINE__, SQLERR_BADFUNCTION, strName.substr(0, 64));
        }
        text(strName);
        text("(");
        // COUNT() means nothing on its own; every other function is called with no arguments.
        if (expression.argumentS.empty() && (strName == "COUNT" || strName == "count")) {
            text("*");
        }
        for (size_t n = 0; n < expression.argumentS.size(); ++n) {
            if (n) {
                text(", ");
            }
            this->expression(expression.argumentS[n], nDepth + 1);
        }
        text(")");
    }

    void single(const SqlCondition& condition)
    {
        expression(condition.lhs());
        const char* pszOperator = nullptr;
        switch (condition.condition()) {
        case condIsNull:
            text(" IS NULL");
            return;
        case condIsNotNull:
            text(" IS NOT NULL");
            return;
        case condLess: pszOperator = " < "; break;
        case condLessEqual: pszOperator = " <= "; break;
        case condGreater: pszOperator = " > "; break;
        case condGreaterEqual: pszOperator = " >= "; break;
        case condEqual: pszOperator = " = "; break;
        case condNotEqual: pszOperator = " <> "; break;
        case condLike: pszOperator = " LIKE "; break;
        case condNotLike: pszOperator = " NOT LIKE "; break;
        default:
            throw SqlException(__FILE__, __LINE__, SQLERR_BADCONDITION,
                               "condition " + std::to_string(static_cast<int>(condition.condition())));
        }
        text(pszOperator);
        if (condition.condition() != condLike && condition.condition() != condNotLike) {
            expression(condition.rhs());
            return;
        }
        LikeModifier like = condition.modifier().like();
        if (like == likeAsIs) {
            if (condition.rhs().kind() != SqlColumnPtr::kindValue) {
                expression(condition.rhs());
                return;
            }
            // PostgreSQL and MySQL take a backslash as escape by default, SQLite nothing: with an
            // escape of our own the pattern means the same everywhere.
            placeholder(SqlText(likePattern(condition.rhs().value().string(), likeAsIs)));
            text(" ESCAPE '");
            text(std::string(1, g_cLikeEscape));
            text("'");
            return;
        }
        if (like != likeContains && like != likeStartsWith && like != likeEndsWith) {
            throw SqlException(__FILE__, __LINE__, SQLERR_BADCONDITION,
                               "like modifier " + std::to_string(static_cast<int>(like)));
        }
        if (condition.rhs().kind() != SqlColumnPtr::kindValue) {
            throw SqlException(__FILE__, __LINE__, SQLERR_BADCONDITION, "a like modifier needs a value");
        }
        placeholder(SqlText(likePattern(condition.rhs().value().string(), like)));
        text(" ESCAPE '");
        text(std::string(1, g_cLikeEscape));
        text("'");
    }

    void compound(const SqlCompoundCondition& compound, int nDepth, bool bNested)
    {
        const auto& conditionS = compound.conditionS();
        if (compound.compound() != compAnd && compound.compound() != compOr) {
            throw SqlException(__FILE__, __LINE__, SQLERR_BADCONDITION,
                               "compound " + std::to_string(static_cast<int>(compound.compound())));
        }
        if (conditionS.empty()) {
            text(compound.compound() == compAnd ? "1 = 1" : "1 = 0");
            return;
        }
        if (conditionS.size() == 1) {
            condition(conditionS.front(), nDepth + 1);
            return;
        }
        if (bNested) {
            text("(");
        }
        for (size_t n = 0; n < conditionS.size(); ++n) {
            if (n) {
                text(compound.compound() == compAnd ? " AND " : " OR ");
            }
            condition(conditionS[n], nDepth + 1);
        }
        if (bNested) {
            text(")");
        }
    }

    SqlLanguage _language;
    SqlRendering& _rendering;
    const SqlTable* _ptable = nullptr;              // not owned
    const std::vector<SqlJoin>* _pjoinS = nullptr;  // not owned; null: no joins
    bool _bQualify = false;
    bool _bMatchAlias = true;
};

// The table names and aliases of one statement must differ from each other and from those of an
// enclosing statement. Statements have few tables, so they are compared pairwise.
void checkAliases(const SqlTable& table, const std::vector<SqlJoin>* pjoinS, const SqlAliasSet& aliasS)
{
    auto check = [&aliasS](const std::string& strReference) {
        if (!aliasS.empty() && aliasS.count(strReference)) {
            throw SqlException(__FILE__, __LINE__, SQLERR_DUPLICATEALIAS, strReference);
        }
    };
    check(table.reference());
    if (!pjoinS) {
        return;
    }
    for (size_t n = 0; n < pjoinS->size(); ++n) {
        const std::string& strReference = (*pjoinS)[n].table().reference();
        check(strReference);
        bool bTaken = strReference == table.reference();
        for (size_t k = 0; k < n && !bTaken; ++k) {
            bTaken = strReference == (*pjoinS)[k].table().reference();
        }
        if (bTaken) {
            throw SqlException(__FILE__, __LINE__, SQLERR_DUPLICATEALIAS, strReference);
        }
    }
}

} // namespace

// ---- SqlStatement

SqlStatement::~SqlStatement() = default;

std::string SqlStatement::toSql(SqlLanguage language, const SqlAliasSet& aliasS, SqlContext context) const
{
    return render(language, aliasS, context).strSql;
}

// ---- select

SqlJoin::SqlJoin(const SqlTable& table, Join join, const SqlConditionPtr& condition)
    : _table(table), _join(join), _condition(condition)
{
}

SqlSelectStatement::SqlSelectStatement(const SqlTable& table) : SqlStatement(table) {}

void SqlSelectStatement::addColumn(const SqlColumn& column)
{
    makeRoom(_columnS, 16);
    _columnS.emplace_back(column);
}

void SqlSelectStatement::addColumn(const SqlColumnPtr& expression)
{
    makeRoom(_columnS, 16);
    _columnS.push_back(expression);
}

void SqlSelectStatement::addJoin(const SqlJoin& join)
{
    _joinS.push_back(join);
}

void SqlSelectStatement::addOrderBy(const SqlColumnPtr& expression, bool bDescending)
{
    _orderS.emplace_back(expression, bDescending);
}

SqlRendering SqlSelectStatement::render(SqlLanguage language, const SqlAliasSet& aliasS, SqlContext) const
{
    SqlRendering rendering;
    Writer writer(language, rendering);
    if (_columnS.empty()) {
        throw SqlException(__FILE__, __LINE__, SQLERR_NOCOLUMNS, "select from " + table().name());
    }
    checkAliases(table(), &_joinS, aliasS);
    // A lone table without alias needs no qualification, which keeps the echoed text short.
    writer.setScope(table(), &_joinS, !_joinS.empty() || !table().alias().empty(), true);
    rendering.strSql.reserve(64 + 32 * _columnS.size());

    writer.text("SELECT ");
    for (size_t n = 0; n < _columnS.size(); ++n) {
        if (n) {
            writer.text(", ");
        }
        writer.selected(_columnS[n]);
    }
    writer.text(" FROM ");
    writer.tableDeclaration(table());
    for (const SqlJoin& join : _joinS) {
        switch (join.join()) {
        case joinInner: writer.text(" INNER JOIN "); break;
        case joinLeft: writer.text(" LEFT JOIN "); break;
        default:
            throw SqlException(__FILE__, __LINE__, SQLERR_WRONGSTATEMENT,
                               "join " + std::to_string(static_cast<int>(join.join())));
        }
        writer.tableDeclaration(join.table());
        if (!join.condition().isValid()) {
            throw SqlException(__FILE__, __LINE__, SQLERR_EMPTYCONDITION, "join of " + join.table().name());
        }
        writer.text(" ON ");
        writer.topCondition(join.condition());
    }
    if (_where.isValid()) {
        writer.text(" WHERE ");
        writer.topCondition(_where);
    }
    for (size_t n = 0; n < _orderS.size(); ++n) {
        writer.text(n ? ", " : " ORDER BY ");
        writer.expression(_orderS[n].first);
        if (_orderS[n].second) {
            writer.text(" DESC");
        }
    }
    if (_nLimit > 0) {
        writer.text(" LIMIT ");
        writer.text(std::to_string(_nLimit));
    }
    return rendering;
}

// ---- insert, update, delete

void SqlAssignmentStatement::addColumn(const SqlColumn& column)
{
    makeRoom(_assignmentS, 16);
    _assignmentS.emplace_back(SqlColumnPtr(column), column.value());
}

void SqlAssignmentStatement::addColumn(const SqlColumn& column, const SqlColumnPtr& value)
{
    makeRoom(_assignmentS, 16);
    _assignmentS.emplace_back(SqlColumnPtr(column), value);
}

namespace {

void checkAssignments(const std::vector<std::pair<SqlColumnPtr, SqlColumnPtr>>& assignmentS,
                      const std::string& strTable)
{
    if (assignmentS.empty()) {
        throw SqlException(__FILE__, __LINE__, SQLERR_NOCOLUMNS, strTable);
    }
    for (const auto& assignment : assignmentS) {
        if (!assignment.second.isValid()) {
            throw SqlException(__FILE__, __LINE__, SQLERR_NOVALUE,
                               strTable + "." + assignment.first.expression()->strName);
        }
    }
}

} // namespace

SqlRendering SqlInsertStatement::render(SqlLanguage language, const SqlAliasSet& aliasS, SqlContext) const
{
    SqlRendering rendering;
    Writer writer(language, rendering);
    checkAssignments(assignmentS(), table().name());
    checkAliases(table(), nullptr, aliasS);
    writer.setScope(table(), nullptr, false, false);
    writer.text("INSERT INTO ");
    writer.tableName(table());
    writer.text(" (");
    for (size_t n = 0; n < assignmentS().size(); ++n) {
        writer.text(n ? ", " : "");
        writer.bareColumn(assignmentS()[n].first);
    }
    writer.text(") VALUES (");
    for (size_t n = 0; n < assignmentS().size(); ++n) {
        writer.text(n ? ", " : "");
        writer.expression(assignmentS()[n].second);
    }
    writer.text(")");
    return rendering;
}

SqlRendering SqlUpdateStatement::render(SqlLanguage language, const SqlAliasSet& aliasS, SqlContext) const
{
    SqlRendering rendering;
    Writer writer(language, rendering);
    checkAssignments(assignmentS(), table().name());
    checkAliases(table(), nullptr, aliasS);
    // Not every engine takes an alias on the table of an update, so columns stay unqualified.
    writer.setScope(table(), nullptr, false, false);
    writer.text("UPDATE ");
    writer.tableName(table());
    writer.text(" SET ");
    for (size_t n = 0; n < assignmentS().size(); ++n) {
        writer.text(n ? ", " : "");
        writer.bareColumn(assignmentS()[n].first);
        writer.text(" = ");
        writer.expression(assignmentS()[n].second);
    }
    if (_where.isValid()) {
        writer.text(" WHERE ");
        writer.topCondition(_where);
    }
    return rendering;
}

void SqlDeleteStatement::addColumn(const SqlColumn& column)
{
    throw SqlException(__FILE__, __LINE__, SQLERR_WRONGSTATEMENT, "a delete takes no column (" + column.name() + ")");
}

SqlRendering SqlDeleteStatement::render(SqlLanguage language, const SqlAliasSet& aliasS, SqlContext) const
{
    SqlRendering rendering;
    Writer writer(language, rendering);
    checkAliases(table(), nullptr, aliasS);
    writer.setScope(table(), nullptr, false, false);
    writer.text("DELETE FROM ");
    writer.tableName(table());
    if (_where.isValid()) {
        writer.text(" WHERE ");
        writer.topCondition(_where);
    }
    return rendering;
}

} // namespace VeskDal
