#ifndef VESKDAL_SQLSTATEMENT_H
#define VESKDAL_SQLSTATEMENT_H

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "VeskDal/Export.h"
#include "VeskDal/SqlColumn.h"
#include "VeskDal/SqlCondition.h"
#include "VeskDal/SqlTable.h"
#include "VeskDal/SqlValue.h"

namespace VeskDal {

// The SQL dialect a statement is written in. Identifiers are quoted "like this" for SQLite and
// PostgreSQL and `like this` for MySQL/MariaDB; values become placeholders (? or $n), never text.
enum SqlLanguage : int { langSQLite = 0, langPostgreSQL = 1, langMySQL = 2 };

// The place a statement is written for; statements are always written whole.
enum SqlContext : int { ctxDefault = 0 };

// Table names and aliases that an enclosing statement already uses; a statement whose own tables
// take one of them is refused (SQLERR_DUPLICATEALIAS). Usually empty.
class SqlAliasSet : public std::set<std::string> {
public:
    using std::set<std::string>::set;
};

// A rendered statement: the SQL text with placeholders, and the values to bind to them in order.
class SqlRendering {
public:
    std::string strSql;
    std::vector<SqlValue> parameterS;
};

enum Join : int { joinInner = 0, joinLeft = 1 };

// A table joined to a select on a condition.
class VESKDAL_API SqlJoin {
public:
    SqlJoin(const SqlTable& table, Join join, const SqlConditionPtr& condition);

    const SqlTable& table() const { return _table; }
    Join join() const { return _join; }
    const SqlConditionPtr& condition() const { return _condition; }

private:
    SqlTable _table;
    Join _join;
    SqlConditionPtr _condition;
};

// A statement on one table. Statements copy what is added to them, so the columns, conditions and
// joins given may be temporaries. Rendering checks the statement and throws SqlException.
class VESKDAL_API SqlStatement {
public:
    enum Kind { kindSelect = 0, kindInsert = 1, kindUpdate = 2, kindDelete = 3 };

    virtual ~SqlStatement();

    const SqlTable& table() const { return _table; }
    virtual Kind kind() const = 0;
    // Select: adds the column to the select list. Insert, update: adds the column with the value it
    // holds now (an invalid value is refused when rendered). Delete: refused (SQLERR_WRONGSTATEMENT).
    virtual void addColumn(const SqlColumn& column) = 0;
    // The SQL text with placeholders and the values to bind, for the given dialect.
    virtual SqlRendering render(SqlLanguage language, const SqlAliasSet& aliasS = SqlAliasSet(),
                                SqlContext context = ctxDefault) const = 0;
    // The SQL text of render(): what runs, with placeholders where the values go.
    std::string toSql(SqlLanguage language, const SqlAliasSet& aliasS = SqlAliasSet(),
                      SqlContext context = ctxDefault) const;

protected:
    explicit SqlStatement(const SqlTable& table) : _table(table) {}

private:
    SqlTable _table;
};

// SELECT list FROM table [joins] [WHERE ...] [ORDER BY ...] [LIMIT n].
class VESKDAL_API SqlSelectStatement : public SqlStatement {
public:
    explicit SqlSelectStatement(const SqlTable& table);

    Kind kind() const override { return kindSelect; }
    // Adds a column to the select list, under its alias when it has one.
    void addColumn(const SqlColumn& column) override;
    // Adds a function or value to the select list, always under its resultName().
    void addColumn(const SqlColumnPtr& expression);
    void addJoin(const SqlJoin& join);
    // Sets (replaces) the WHERE clause; an invalid pointer removes it.
    void setWhere(const SqlConditionPtr& condition) { _where = condition; }
    void addOrderBy(const SqlColumnPtr& expression, bool bDescending = false);
    // At most nRows rows (0: no limit).
    void setLimit(int nRows) { _nLimit = nRows; }

    const std::vector<SqlColumnPtr>& columnS() const { return _columnS; }
    const std::vector<SqlJoin>& joinS() const { return _joinS; }
    const SqlConditionPtr& where() const { return _where; }
    SqlRendering render(SqlLanguage language, const SqlAliasSet& aliasS = SqlAliasSet(),
                        SqlContext context = ctxDefault) const override;

private:
    std::vector<SqlColumnPtr> _columnS;
    std::vector<SqlJoin> _joinS;
    SqlConditionPtr _where;
    std::vector<std::pair<SqlColumnPtr, bool>> _orderS;
    int _nLimit = 0;
};

// Column and value pairs of an insert or update.
class VESKDAL_API SqlAssignmentStatement : public SqlStatement {
public:
    // Adds the column with the value it holds now.
    void addColumn(const SqlColumn& column) override;
    // Adds the column with the given value.
    void addColumn(const SqlColumn& column, const SqlColumnPtr& value);
    const std::vector<std::pair<SqlColumnPtr, SqlColumnPtr>>& assignmentS() const { return _assignmentS; }

protected:
    explicit SqlAssignmentStatement(const SqlTable& table) : SqlStatement(table) {}

private:
    std::vector<std::pair<SqlColumnPtr, SqlColumnPtr>> _assignmentS;
};

// INSERT INTO table (columns) VALUES (values).
class VESKDAL_API SqlInsertStatement : public SqlAssignmentStatement {
public:
    explicit SqlInsertStatement(const SqlTable& table) : SqlAssignmentStatement(table) {}

    Kind kind() const override { return kindInsert; }
    SqlRendering render(SqlLanguage language, const SqlAliasSet& aliasS = SqlAliasSet(),
                        SqlContext context = ctxDefault) const override;
};

// UPDATE table SET column = value, ... [WHERE ...]. Without a WHERE clause every row changes.
class VESKDAL_API SqlUpdateStatement : public SqlAssignmentStatement {
public:
    explicit SqlUpdateStatement(const SqlTable& table) : SqlAssignmentStatement(table) {}

    Kind kind() const override { return kindUpdate; }
    // Sets (replaces) the WHERE clause; an invalid pointer removes it.
    void setWhere(const SqlConditionPtr& condition) { _where = condition; }
    const SqlConditionPtr& where() const { return _where; }
    SqlRendering render(SqlLanguage language, const SqlAliasSet& aliasS = SqlAliasSet(),
                        SqlContext context = ctxDefault) const override;

private:
    SqlConditionPtr _where;
};

// DELETE FROM table [WHERE ...]. Without a WHERE clause every row goes.
class VESKDAL_API SqlDeleteStatement : public SqlStatement {
public:
    explicit SqlDeleteStatement(const SqlTable& table) : SqlStatement(table) {}

    Kind kind() const override { return kindDelete; }
    // Refused: a delete has no columns (SQLERR_WRONGSTATEMENT).
    void addColumn(const SqlColumn& column) override;
    // Sets (replaces) the WHERE clause; an invalid pointer removes it.
    void setWhere(const SqlConditionPtr& condition) { _where = condition; }
    const SqlConditionPtr& where() const { return _where; }
    SqlRendering render(SqlLanguage language, const SqlAliasSet& aliasS = SqlAliasSet(),
                        SqlContext context = ctxDefault) const override;

private:
    SqlConditionPtr _where;
};

} // namespace VeskDal

#endif
