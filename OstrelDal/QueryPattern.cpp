#include "OstrelDal/QueryPattern.h"

#include "OstrelDal/StatementEcho.h"

namespace OstrelDal {

namespace {

// The statement as it will run, written before it runs. Rendering costs time, so nothing is
// rendered when the echo is off.
void echo(const VeskDal::SqlStatement& statement, const VeskDal::DalDatabase& database)
{
    if (statementEcho() != echoOff) {
        trace(statement.toSql(database.language(), VeskDal::SqlAliasSet(), VeskDal::ctxDefault));
    }
}

} // namespace

void appendEqual(VeskDal::SqlCompoundCondition& conditionS, const VeskDal::SqlColumn& column,
                 const VeskDal::SqlColumnPtr& value)
{
    if (value.isValid()) {
        conditionS.addCondition(VeskDal::SqlCondition(column, value, VeskDal::condEqual));
    }
}

void appendEqual(VeskDal::SqlCompoundCondition& conditionS, const VeskDal::SqlTable& table, const char* pszColumn,
                 const VeskDal::SqlColumnPtr& value)
{
    if (value.isValid()) {
        appendEqual(conditionS, VeskDal::SqlColumn(table, pszColumn, ""), value);
    }
}

int runSelect(VeskDal::SqlSelectStatement& statement, const VeskDal::SqlCompoundCondition& conditionS,
              VeskDal::DalDatabase::Result& result, VeskDal::DalDatabase& database)
{
    if (conditionS.count() > 0) {
        statement.setWhere(conditionS);
    }
    echo(statement, database);
    return database.query(result, statement, 0);
}

int runInsert(const VeskDal::SqlInsertStatement& statement, VeskDal::DalDatabase& database)
{
    echo(statement, database);
    return database.execute(statement);
}

int runUpdate(VeskDal::SqlUpdateStatement& statement, const VeskDal::SqlCompoundCondition& conditionS,
              VeskDal::DalDatabase& database)
{
    if (conditionS.count() == 0) {
        return 0;
    }
    statement.setWhere(conditionS);
    echo(statement, database);
    return database.execute(statement);
}

int runRemove(VeskDal::SqlDeleteStatement& statement, const VeskDal::SqlCompoundCondition& conditionS,
              VeskDal::DalDatabase& database)
{
    if (conditionS.count() == 0) {
        return 0;
    }
    statement.setWhere(conditionS);
    echo(statement, database);
    return database.execute(statement);
}

} // namespace OstrelDal
