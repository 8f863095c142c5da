// Statements rendered per dialect, checked as text; no database involved.

#include <gtest/gtest.h>

#include <memory>

#include "VeskDal/VeskDal.h"

using namespace VeskDal;

namespace {

// A query class in the shape the data-access layer builds them: members register their columns.
class UserQueryShape : public SqlQueryBase {
public:
    explicit UserQueryShape(const SqlTable& table)
        : _tbUser(table), _colDomain(this, _tbUser, "Domain"), _colUserId(this, _tbUser, "UserId"),
          _colName(this, _tbUser, "Name")
    {
    }

    SqlTable _tbUser;
    SqlColumn _colDomain;
    SqlColumn _colUserId;
    SqlColumn _colName;
};

class SqlRender : public ::testing::Test {
protected:
    SqlSchema _schema{"ostrel_test"};
    SqlTable _tbUser{_schema, "User"};
    SqlColumn _colDomain{_tbUser, "Domain"};
    SqlColumn _colUserId{_tbUser, "UserId"};
    SqlColumn _colName{_tbUser, "Name"};
};

TEST_F(SqlRender, IdentifiersAreQuotedPerDialect)
{
    SqlSelectStatement select(_tbUser);
    select.addColumn(_colDomain);
    select.addColumn(_colUserId);
    EXPECT_EQ("SELECT \"Domain\", \"UserId\" FROM \"User\"", select.toSql(langSQLite, SqlAliasSet(), ctxDefault));
    EXPECT_EQ("SELECT \"Domain\", \"UserId\" FROM \"User\"", select.toSql(langPostgreSQL));
    EXPECT_EQ("SELECT `Domain`, `UserId` FROM `User`", select.toSql(langMySQL));
}

TEST_F(SqlRender, QuoteCharactersInsideNamesAreDoubled)
{
    SqlTable table(_schema, "we\"ird`name");
    SqlSelectStatement select(table);
    select.addColumn(SqlColumn(table, "c\"1"));
    EXPECT_EQ("SELECT \"c\"\"1\" FROM \"we\"\"ird`name\"", select.toSql(langPostgreSQL));
    EXPECT_EQ("SELECT `c\"1` FROM `we\"ird``name`", select.toSql(langMySQL));
}

TEST_F(SqlRender, ValuesBecomePlaceholdersAndTravelAlongInOrder)
{
    const std::string strHostile = "x'; DROP TABLE \"User\"; --";
    SqlSelectStatement select(_tbUser);
    select.addColumn(_colName);
    SqlCompoundCondition where(compAnd);
    where.addCondition(SqlCondition(_colDomain, SqlText(strHostile), condEqual));
    where.addCondition(SqlCondition(_colUserId, SqlInteger(42), condEqual));
    select.setWhere(where);

    SqlRendering pg = select.render(langPostgreSQL);
    EXPECT_EQ("SELECT \"Name\" FROM \"User\" WHERE \"Domain\" = $1 AND \"UserId\" = $2", pg.strSql);
    ASSERT_EQ(2u, pg.parameterS.size());
    EXPECT_EQ(SqlText(strHostile), pg.parameterS[0]);
    EXPECT_EQ(SqlInteger(42), pg.parameterS[1]);
    EXPECT_EQ(std::string::npos, pg.strSql.find("DROP"));

    EXPECT_EQ("SELECT `Name` FROM `User` WHERE `Domain` = ? AND `UserId` = ?", select.toSql(langMySQL));
    EXPECT_EQ("SELECT \"Name\" FROM \"User\" WHERE \"Domain\" = ? AND \"UserId\" = ?", select.toSql(langSQLite));
}

TEST_F(SqlRender, AliasesQualifyColumnsAndNameTheResult)
{
    SqlTable tbParam(_schema, "AuthenticatorParam", "AP");
    SqlSelectStatement select(tbParam);
    select.addColumn(SqlColumn(tbParam, "Param", "Param"));
    select.addColumn(SqlColumn(tbParam, "Value", "V"));
    select.setWhere(SqlCondition(SqlColumn(tbParam, "Domain"), SqlText("acme"), condEqual));
    EXPECT_EQ("SELECT \"AP\".\"Param\" AS \"Param\", \"AP\".\"Value\" AS \"V\" FROM \"AuthenticatorParam\" AS \"AP\" "
              "WHERE \"AP\".\"Domain\" = ?",
              select.toSql(langSQLite));
}

TEST_F(SqlRender, NestedCompoundsAreParenthesised)
{
    SqlCompoundCondition search(compOr);
    search.addCondition(SqlCondition(_colUserId, SqlText("b%"), condLike, SqlConditionModifier(likeAsIs)));
    search.addCondition(SqlCondition(_colName, SqlText("b%"), condLike, SqlConditionModifier(likeAsIs)));
    SqlCompoundCondition where(compAnd);
    where.addCondition(SqlCondition(_colDomain, SqlText("acme"), condEqual));
    where.addCondition(search);
    EXPECT_EQ(2, where.count());

    SqlSelectStatement select(_tbUser);
    select.addColumn(_colUserId);
    select.setWhere(where);
    EXPECT_EQ("SELECT \"UserId\" FROM \"User\" WHERE \"Domain\" = $1 AND (\"UserId\" LIKE $2 ESCAPE '!' OR "
              "\"Name\" LIKE $3 ESCAPE '!')",
              select.toSql(langPostgreSQL));
    SqlRendering rendering = select.render(langMySQL);
    EXPECT_EQ("b%", rendering.parameterS[1].string());
}

TEST_F(SqlRender, LikeModifiersMatchTheValueLiterally)
{
    SqlSelectStatement select(_tbUser);
    select.addColumn(_colUserId);
    select.setWhere(SqlCondition(_colName, SqlText("50%_off!"), condLike, SqlConditionModifier(likeContains)));
    SqlRendering rendering = select.render(langMySQL);
    EXPECT_EQ("SELECT `UserId` FROM `User` WHERE `Name` LIKE ? ESCAPE '!'", rendering.strSql);
    ASSERT_EQ(1u, rendering.parameterS.size());
    EXPECT_EQ("%50!%!_off!!%", rendering.parameterS[0].string());

    select.setWhere(SqlCondition(_colName, SqlText("ab"), condLike, SqlConditionModifier(likeStartsWith)));
    EXPECT_EQ("ab%", select.render(langSQLite).parameterS[0].string());
    select.setWhere(SqlCondition(_colName, SqlText("ab"), condLike, SqlConditionModifier(likeEndsWith)));
    EXPECT_EQ("%ab", select.render(langSQLite).parameterS[0].string());
    // As is, wildcards stay wildcards and only the escape character is escaped.
    select.setWhere(SqlCondition(_colName, SqlText("a%b_!\\"), condLike, SqlConditionModifier(likeAsIs)));
    EXPECT_EQ("a%b_!!\\", select.render(langSQLite).parameterS[0].string());
}

TEST_F(SqlRender, MaxFunctionIsSelectedUnderItsResultName)
{
    SqlTable tbRole(_schema, "ProductRole");
    SqlColumn colRole(tbRole, "Role");
    SqlFunction max("MAX", "");
    max.addColumn(colRole);
    SqlSelectStatement select(tbRole);
    select.addColumn(max);
    select.setWhere(SqlCondition(SqlColumn(tbRole, "Product"), SqlInteger(7), condEqual));
    EXPECT_EQ("SELECT MAX(\"Role\") AS \"MAX\" FROM \"ProductRole\" WHERE \"Product\" = ?", select.toSql(langSQLite));
    EXPECT_EQ("MAX", max.resultName());
    EXPECT_EQ("Top", SqlFunction("MAX", "Top").resultName());

    SqlSelectStatement count(tbRole);
    count.addColumn(SqlFunction("COUNT", "n"));
    EXPECT_EQ("SELECT COUNT(*) AS `n` FROM `ProductRole`", count.toSql(langMySQL));
}

TEST_F(SqlRender, InnerJoinQualifiesEveryColumn)
{
    SqlTable tbLibrary(_schema, "AuthenticationLibrary");
    SqlTable tbShared(_schema, "SharedObject");
    SqlColumn colLibrary(tbLibrary, "AuthenticationLibrary");
    SqlColumn colLibrary1(tbShared, "AuthenticationLibrary");
    SqlSelectStatement select(tbLibrary);
    select.addColumn(colLibrary);
    select.addColumn(SqlColumn(tbShared, "SharedObject"));
    select.addJoin(SqlJoin(tbShared, joinInner, SqlCondition(colLibrary, colLibrary1, condEqual)));
    select.setWhere(SqlCondition(SqlColumn(tbShared, "Platform"), SqlText("linux"), condEqual));
    EXPECT_EQ("SELECT `AuthenticationLibrary`.`AuthenticationLibrary`, `SharedObject`.`SharedObject` "
              "FROM `AuthenticationLibrary` INNER JOIN `SharedObject` ON "
              "`AuthenticationLibrary`.`AuthenticationLibrary` = `SharedObject`.`AuthenticationLibrary` "
              "WHERE `SharedObject`.`Platform` = ?",
              select.toSql(langMySQL));
}

TEST_F(SqlRender, InsertUpdateDeleteTakeColumnsWithTheirValues)
{
    _colDomain.setValue(SqlText("acme"));
    _colName.setValue(SqlText("Bob"));

    SqlInsertStatement insert(_tbUser);
    insert.addColumn(_colDomain);
    insert.addColumn(_colName);
    SqlRendering rendering = insert.render(langPostgreSQL);
    EXPECT_EQ("INSERT INTO \"User\" (\"Domain\", \"Name\") VALUES ($1, $2)", rendering.strSql);
    EXPECT_EQ("acme", rendering.parameterS[0].string());

    SqlUpdateStatement update(_tbUser);
    update.addColumn(_colName);
    update.setWhere(SqlCondition(_colUserId, SqlText("bob"), condEqual));
    EXPECT_EQ("UPDATE `User` SET `Name` = ? WHERE `UserId` = ?", update.toSql(langMySQL));

    SqlDeleteStatement remove(_tbUser);
    remove.setWhere(SqlCondition(_colUserId, SqlText("bob"), condEqual));
    EXPECT_EQ("DELETE FROM \"User\" WHERE \"UserId\" = ?", remove.toSql(langSQLite));
    EXPECT_THROW(remove.addColumn(_colName), SqlException);
}

TEST_F(SqlRender, TableAliasIsDroppedWhereEnginesDisagreeOnIt)
{
    SqlTable tbAliased(_schema, "User", "U");
    SqlColumn colName(tbAliased, "Name", "Name");
    colName.setValue(SqlText("x"));
    SqlUpdateStatement update(tbAliased);
    update.addColumn(colName);
    update.setWhere(SqlCondition(SqlColumn(tbAliased, "UserId"), SqlText("bob"), condEqual));
    EXPECT_EQ("UPDATE \"User\" SET \"Name\" = $1 WHERE \"UserId\" = $2", update.toSql(langPostgreSQL));
}

TEST_F(SqlRender, SchemaQualifiesOnlyWhenAsked)
{
    SqlTable table(SqlSchema("other", true), "User");
    SqlSelectStatement select(table);
    select.addColumn(SqlColumn(table, "Name"));
    EXPECT_EQ("SELECT \"Name\" FROM \"other\".\"User\"", select.toSql(langSQLite));
}

TEST_F(SqlRender, PostgreSqlPlaceholdersAreNumberedBeyondNine)
{
    SqlCompoundCondition anyOf(compOr);
    for (int n = 1; n <= 11; ++n) {
        anyOf.addCondition(SqlCondition(_colUserId, SqlInteger(n), condEqual));
    }
    SqlSelectStatement select(_tbUser);
    select.addColumn(_colName);
    select.setWhere(anyOf);
    SqlRendering pg = select.render(langPostgreSQL);
    EXPECT_NE(std::string::npos, pg.strSql.find("\"UserId\" = $9 OR \"UserId\" = $10 OR \"UserId\" = $11"));
    ASSERT_EQ(11u, pg.parameterS.size());
    EXPECT_EQ(SqlInteger(11), pg.parameterS[10]);
}

TEST_F(SqlRender, ColumnCopiesAndAssignmentsRenderWhatTheyWereGiven)
{
    SqlColumn copy(_colDomain);
    SqlColumn assigned(_tbUser, "Other", "O");
    SqlColumnPtr before(assigned);
    assigned = _colName;
    SqlSelectStatement select(_tbUser);
    select.addColumn(copy);
    select.addColumn(assigned);
    select.addColumn(before);
    EXPECT_EQ("SELECT \"Domain\", \"Name\", \"Other\" AS \"O\" FROM \"User\"", select.toSql(langSQLite));
    EXPECT_EQ("Name", assigned.resultName());
    EXPECT_EQ("", assigned.alias());
    EXPECT_EQ(_tbUser, assigned.table());
}

// ---- refusals

class SqlRenderRefusal : public SqlRender {
protected:
    static int codeOf(const SqlStatement& statement, SqlAliasSet aliasS = SqlAliasSet())
    {
        try {
            statement.render(langPostgreSQL, aliasS);
        } catch (const SqlException& e) {
            return e.errorCode();
        }
        return SQLERR_NONE;
    }
};

TEST_F(SqlRenderRefusal, StatementsWithoutColumnsOrValues)
{
    EXPECT_EQ(SQLERR_NOCOLUMNS, codeOf(SqlSelectStatement(_tbUser)));
    EXPECT_EQ(SQLERR_NOCOLUMNS, codeOf(SqlInsertStatement(_tbUser)));
    SqlInsertStatement insert(_tbUser);
    insert.addColumn(_colName);  // holds no value
    EXPECT_EQ(SQLERR_NOVALUE, codeOf(insert));
}

TEST_F(SqlRenderRefusal, EmptyWhereClauseIsNotWidenedToEveryRow)
{
    SqlDeleteStatement remove(_tbUser);
    remove.setWhere(SqlCompoundCondition(compAnd));
    EXPECT_EQ(SQLERR_EMPTYCONDITION, codeOf(remove));
    // Nested, an empty AND is true and an empty OR false.
    SqlCompoundCondition where(compAnd);
    where.addCondition(SqlCondition(_colUserId, SqlText("a"), condEqual));
    where.addCondition(SqlCompoundCondition(compOr));
    remove.setWhere(where);
    EXPECT_EQ("DELETE FROM \"User\" WHERE \"UserId\" = ? AND 1 = 0", remove.toSql(langSQLite));
}

TEST_F(SqlRenderRefusal, ColumnsOfTablesTheStatementDoesNotName)
{
    SqlTable tbOther(_schema, "Other");
    SqlSelectStatement select(_tbUser);
    select.addColumn(SqlColumn(tbOther, "x"));
    EXPECT_EQ(SQLERR_FOREIGNCOLUMN, codeOf(select));
}

TEST_F(SqlRenderRefusal, TwoTablesUnderOneName)
{
    SqlSelectStatement select(_tbUser);
    select.addColumn(_colName);
    select.addJoin(SqlJoin(_tbUser, joinInner, SqlCondition(_colName, _colName, condEqual)));
    EXPECT_EQ(SQLERR_DUPLICATEALIAS, codeOf(select));
    SqlSelectStatement lone(_tbUser);
    lone.addColumn(_colName);
    EXPECT_EQ(SQLERR_DUPLICATEALIAS, codeOf(lone, SqlAliasSet{"User"}));

    // Two joined tables under one alias, and a joined table under an alias the caller uses.
    SqlTable tbFirst(_schema, "Team", "T");
    SqlTable tbSecond(_schema, "UserTeam", "T");
    SqlSelectStatement joins(_tbUser);
    joins.addColumn(_colName);
    joins.addJoin(SqlJoin(tbFirst, joinInner, SqlCondition(_colName, SqlColumn(tbFirst, "Name"), condEqual)));
    EXPECT_EQ(SQLERR_NONE, codeOf(joins));
    EXPECT_EQ(SQLERR_DUPLICATEALIAS, codeOf(joins, SqlAliasSet{"T"}));
    joins.addJoin(SqlJoin(tbSecond, joinInner, SqlCondition(_colName, SqlColumn(tbSecond, "Name"), condEqual)));
    EXPECT_EQ(SQLERR_DUPLICATEALIAS, codeOf(joins));
}

TEST_F(SqlRenderRefusal, MalformedNamesAndOperands)
{
    SqlSelectStatement badFunction(_tbUser);
    badFunction.addColumn(SqlFunction("MAX(1);DROP", ""));
    EXPECT_EQ(SQLERR_BADFUNCTION, codeOf(badFunction));

    SqlSelectStatement nul(_tbUser);
    nul.addColumn(SqlColumn(_tbUser, std::string("a\0b", 3)));
    EXPECT_EQ(SQLERR_BADIDENTIFIER, codeOf(nul));

    SqlSelectStatement empty(_tbUser);
    empty.addColumn(SqlColumn(_tbUser, ""));
    EXPECT_EQ(SQLERR_EMPTYNAME, codeOf(empty));

    SqlSelectStatement invalid(_tbUser);
    invalid.addColumn(_colName);
    invalid.setWhere(SqlCondition(_colName, SqlColumnPtr(), condEqual));
    EXPECT_EQ(SQLERR_INVALIDOPERAND, codeOf(invalid));

    SqlSelectStatement badCondition(_tbUser);
    badCondition.addColumn(_colName);
    badCondition.setWhere(SqlCondition(_colName, SqlText("a"), static_cast<Condition>(99)));
    EXPECT_EQ(SQLERR_BADCONDITION, codeOf(badCondition));

    EXPECT_THROW(badCondition.toSql(static_cast<SqlLanguage>(9)), SqlException);
}

TEST_F(SqlRenderRefusal, RunawayNestingIsRefusedNotOverflowed)
{
    SqlCompoundCondition where(compAnd);
    where.addCondition(SqlCondition(_colName, SqlText("a"), condEqual));
    for (int n = 0; n < 200; ++n) {
        SqlCompoundCondition outer(n % 2 ? compAnd : compOr);
        outer.addCondition(where);
        outer.addCondition(SqlCondition(_colName, SqlText("b"), condEqual));
        where = outer;
    }
    SqlSelectStatement select(_tbUser);
    select.addColumn(_colName);
    select.setWhere(where);
    EXPECT_EQ(SQLERR_BADCONDITION, codeOf(select));
}

// ---- values, operands and registration

TEST(SqlValueTest, IntegersReadFromTextOnlyWhenItIsAnInteger)
{
    EXPECT_FALSE(SqlValue().isValid());
    EXPECT_EQ("", SqlValue().string());
    EXPECT_THROW(SqlValue().asInt(), SqlException);
    EXPECT_EQ(42, SqlText("42").asInt());
    EXPECT_EQ(-7, SqlText("-7").asInt());
    EXPECT_EQ(5, SqlText("+5").asInt());
    EXPECT_EQ("12", SqlInteger(12).string());
    for (const char* psz : {"", " 1", "1 ", "12abc", "0x10", "1.5", "99999999999", "+", "+-5", "-"}) {
        EXPECT_THROW(SqlText(psz).asInt(), SqlException) << psz;
    }
    EXPECT_EQ(99999999999LL, SqlText("99999999999").asInt64());
    EXPECT_FALSE(SqlText(static_cast<const char*>(nullptr)).isValid());
    EXPECT_NE(SqlText("1"), SqlInteger(1));
}

TEST(SqlColumnPtrTest, MadeFromAnInvalidValueIsInvalid)
{
    EXPECT_FALSE(SqlColumnPtr().isValid());
    EXPECT_FALSE(SqlColumnPtr(SqlValue()).isValid());
    SqlColumnPtr value(SqlText("v", "alias"));
    EXPECT_EQ(SqlColumnPtr::kindValue, value.kind());
    EXPECT_EQ("alias", value.resultName());
    EXPECT_EQ("v", value.value().string());
}

TEST(SqlColumnPtrTest, OperandsOutliveTheTemporariesTheyWereMadeFrom)
{
    SqlSchema schema("s");
    SqlConditionPtr where;
    {
        SqlTable table(schema, "T");
        SqlColumn column(table, "C");
        SqlCompoundCondition compound(compOr);
        compound.addCondition(SqlCondition(column, SqlText("x"), condEqual));
        compound.addCondition(SqlCondition(column, SqlText("y"), condEqual));
        where = compound;
        compound.addCondition(SqlCondition(column, SqlText("z"), condEqual));  // not in the snapshot
    }
    SqlTable table(schema, "T");
    SqlSelectStatement select(table);
    select.addColumn(SqlColumn(table, "C"));
    select.setWhere(where);
    EXPECT_EQ("SELECT \"C\" FROM \"T\" WHERE \"C\" = ? OR \"C\" = ?", select.toSql(langSQLite));
}

TEST(SqlQueryBaseTest, AddsRegisteredColumnsByValidity)
{
    SqlTable table(SqlSchema("s"), "User");
    UserQueryShape query(table);
    EXPECT_EQ(table, query.table());
    query._colName.setValue(SqlText("Bob"));

    SqlInsertStatement insert(query.table());
    query.addColumns(insert, SqlQueryBase::validOnly);
    EXPECT_EQ("INSERT INTO \"User\" (\"Name\") VALUES (?)", insert.toSql(langSQLite));

    SqlSelectStatement select(query.table());
    query.addColumns(select, SqlQueryBase::invalidToo);
    EXPECT_EQ("SELECT \"Domain\", \"UserId\", \"Name\" FROM \"User\"", select.toSql(langSQLite));
}

TEST(SqlQueryBaseTest, ColumnsAndQueriesMayEndInEitherOrder)
{
    SqlTable table(SqlSchema("s"), "T");
    auto pquery = std::make_unique<UserQueryShape>(table);
    {
        SqlColumn extra(pquery.get(), table, "Extra");
        EXPECT_EQ(4u, pquery->registeredColumnS().size());
    }
    EXPECT_EQ(3u, pquery->registeredColumnS().size());
    auto pcolumn = std::make_unique<SqlColumn>(pquery.get(), table, "Late");
    pquery.reset();
    pcolumn.reset();  // must not reach back into the destroyed query
    SUCCEED();
}

TEST(SqlQueryBaseTest, QueryWithoutColumnsHasNoTable)
{
    SqlQueryBase query;
    EXPECT_THROW(query.table(), SqlException);
}

TEST(SqlExceptionTest, CodesExplainThemselves)
{
    EXPECT_FALSE(SqlException::explainErrorCode(SQLERR_NOVALUE).empty());
    EXPECT_EQ("", SqlException::explainErrorCode(424242));
    EXPECT_FALSE(DalDatabaseException::explainErrorCode(DDBERR_USER).empty());
    DalDatabaseException e(__FILE__, __LINE__, DDBERR_USER, 1, "No Schema/Database specified");
    EXPECT_EQ("No Schema/Database specified", e.nativeExplanation());
    EXPECT_EQ(5000, e.errorCode());
}

} // namespace
