#ifndef OSTRELDAL_QUERYPATTERN_H
#define OSTRELDAL_QUERYPATTERN_H

// The pattern every query class follows, written once.
//
// A query class pair knows one table: XxxQueryBase holds the table, one column per table column
// (registered with the query, in table order) and one constraint per key column, with the
// accessors columnName() and constrainName(); XxxQuery turns that into one SELECT, INSERT, UPDATE
// or DELETE and runs it. The XxxQueryBase classes are generated from the lists of QueryTables.h;
// the QueryPattern template gives every XxxQuery its four statements. A class that differs
// overrides only what differs.
//
// Virtual operations, in slot order: destructor, table() (from VeskDal::SqlQueryBase), select,
// insert, update, remove, addConstraints(conditions), addConstraints(conditions, bAddBaseConstraints).

#include "OstrelDal/Export.h"
#include "OstrelDal/QueryTables.h"
#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlColumn.h"
#include "VeskDal/SqlCondition.h"
#include "VeskDal/SqlQueryBase.h"
#include "VeskDal/SqlStatement.h"
#include "VeskDal/SqlTable.h"

namespace OstrelDal {

// ---- running the statements (shared by every query class)

// Appends column = value to conditionS when the value is valid.
OSTRELDAL_API void appendEqual(VeskDal::SqlCompoundCondition& conditionS, const VeskDal::SqlColumn& column,
                               const VeskDal::SqlColumnPtr& value);
// As above, for a column of table that the query does not hold as a member.
OSTRELDAL_API void appendEqual(VeskDal::SqlCompoundCondition& conditionS, const VeskDal::SqlTable& table,
                               const char* pszColumn, const VeskDal::SqlColumnPtr& value);

// Sets the conditions as WHERE clause when there is at least one, echoes the statement and runs
// it; returns the rows delivered into result.
OSTRELDAL_API int runSelect(VeskDal::SqlSelectStatement& statement, const VeskDal::SqlCompoundCondition& conditionS,
                            VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database);
// Echoes the statement and runs it; returns the rows the database reports as affected.
OSTRELDAL_API int runInsert(const VeskDal::SqlInsertStatement& statement, VeskDal::DalDatabase& database);
// Without any condition returns 0 and neither echoes nor runs anything: an UPDATE or DELETE never
// runs without a WHERE clause. Otherwise sets the WHERE clause, echoes, runs and returns the rows
// affected.
OSTRELDAL_API int runUpdate(VeskDal::SqlUpdateStatement& statement, const VeskDal::SqlCompoundCondition& conditionS,
                            VeskDal::DalDatabase& database);
OSTRELDAL_API int runRemove(VeskDal::SqlDeleteStatement& statement, const VeskDal::SqlCompoundCondition& conditionS,
                            VeskDal::DalDatabase& database);

// ---- XxxQuery: the four statements of the pattern

// Statements are built anew on every call; values set on columns and constraints persist between
// calls. Exceptions of VeskDal (SqlException while building, DalDatabaseException while running)
// go to the caller unchanged. Not to be shared between threads while in use.
template <class TQueryBase>
class QueryPattern : public TQueryBase {
public:
    using Result = VeskDal::DalDatabase::Result;
    using QueryType = VeskDal::SqlQueryBase::QueryType;

    using TQueryBase::TQueryBase;
    using TQueryBase::addConstraints;

    // Every column, under the constraints; the type is not looked at. Returns the rows delivered.
    int select(Result& result, VeskDal::DalDatabase& database, QueryType /*type*/) override
    {
        VeskDal::SqlSelectStatement statement(this->table());
        this->addColumns(statement, VeskDal::SqlQueryBase::invalidToo);
        return runSelect(statement, constraints(), result, database);
    }

    // The columns that hold a value; constraints play no part. Returns the rows inserted.
    int insert(VeskDal::DalDatabase& database) override
    {
        VeskDal::SqlInsertStatement statement(this->table());
        this->addColumns(statement, VeskDal::SqlQueryBase::validOnly);
        return runInsert(statement, database);
    }

    // Sets the columns that hold a value, under the constraints; 0 without any constraint.
    int update(VeskDal::DalDatabase& database) override
    {
        VeskDal::SqlUpdateStatement statement(this->table());
        this->addColumns(statement, VeskDal::SqlQueryBase::validOnly);
        return runUpdate(statement, constraints(), database);
    }

    // Deletes the rows under the constraints; 0 without any constraint.
    int remove(VeskDal::DalDatabase& database) override
    {
        VeskDal::SqlDeleteStatement statement(this->table());
        return runRemove(statement, constraints(), database);
    }

    // The key constraints of the base when bAddBaseConstraints; classes with constraints of their
    // own append them after.
    virtual void addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints)
    {
        if (bAddBaseConstraints) {
            TQueryBase::addConstraints(conditionS);
        }
    }

protected:
    // Every valid constraint, joined by AND.
    VeskDal::SqlCompoundCondition constraints()
    {
        VeskDal::SqlCompoundCondition conditionS(VeskDal::compAnd);
        addConstraints(conditionS, true);
        return conditionS;
    }

    // The select of the classes that also read the highest number of a column: with type max the
    // statement has one column, MAX over maxColumn (still under the constraints, so a constrained
    // product gives its highest number; no row or NULL when there is none); with brief, full, min
    // or count every column; a type outside the enumeration adds no column (and the statement is
    // refused).
    int selectWithMax(Result& result, VeskDal::DalDatabase& database, QueryType type,
                      const VeskDal::SqlColumn& maxColumn)
    {
        VeskDal::SqlSelectStatement statement(this->table());
        switch (type) {
        case VeskDal::SqlQueryBase::max: {
            VeskDal::SqlFunction function("MAX", "");
            function.addColumn(maxColumn);
            statement.addColumn(VeskDal::SqlColumnPtr(function));
            break;
        }
        case VeskDal::SqlQueryBase::brief:
        case VeskDal::SqlQueryBase::full:
        case VeskDal::SqlQueryBase::min:
        case VeskDal::SqlQueryBase::count:
            this->addColumns(statement, VeskDal::SqlQueryBase::invalidToo);
            break;
        }
        return runSelect(statement, constraints(), result, database);
    }
};

} // namespace OstrelDal

#endif
