// The same statements on every engine: SQLite on a file, PostgreSQL and MariaDB on the harness's
// throw-away servers, each test in a scratch database of its own.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "VeskDal/VeskDal.h"
#include "harness/TestDatabases.h"

using namespace VeskDal;

namespace {

class DalEngine : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        _pscratch = std::make_unique<OstrelTest::ScratchDatabase>(GetParam());
        _pdb = _pscratch->open();
        _pdb->executeScript(quoted("CREATE TABLE 'Item' ('Id' INTEGER NOT NULL PRIMARY KEY, 'Name' VARCHAR(255), "
                                   "'Note' TEXT, 'Count' INTEGER, 'Digits' VARCHAR(20));"
                                   "CREATE TABLE 'Tag' ('Id' INTEGER NOT NULL, 'Tag' VARCHAR(64) NOT NULL, "
                                   "PRIMARY KEY ('Id', 'Tag'));"
                                   "CREATE TABLE 'User' ('Domain' VARCHAR(64) NOT NULL, 'UserId' VARCHAR(64) NOT NULL, "
                                   "'Name' VARCHAR(255), PRIMARY KEY ('Domain', 'UserId'))"));
    }

    // Test DDL is written with ' around names; each engine gets its own identifier quote.
    std::string quoted(std::string strSql) const
    {
        for (char& c : strSql) {
            if (c == '\'') {
                c = GetParam() == "mysql" ? '`' : '"';
            }
        }
        return strSql;
    }

    int insertItem(int nId, const SqlValue& name, const SqlValue& note = SqlValue(), DalDatabase* pdb = nullptr)
    {
        SqlColumn colId(_tbItem, "Id");
        SqlColumn colName(_tbItem, "Name");
        SqlColumn colNote(_tbItem, "Note");
        colId.setValue(SqlInteger(nId));
        colName.setValue(name);
        colNote.setValue(note);
        SqlInsertStatement insert(_tbItem);
        insert.addColumn(colId);
        if (colName.isValid()) {
            insert.addColumn(colName);
        }
        if (colNote.isValid()) {
            insert.addColumn(colNote);
        }
        return (pdb ? pdb : _pdb.get())->execute(insert);
    }

    // Rows of Item, all columns, ordered by Id, optionally only those whose column equals a value.
    DalDatabase::Result items(const std::string& strColumn = "", const SqlValue& value = SqlValue(),
                              DalDatabase* pdb = nullptr)
    {
        SqlSelectStatement select = selectItems(strColumn, value);
        DalDatabase::Result result;
        int nRows = (pdb ? pdb : _pdb.get())->query(result, select, 0);
        EXPECT_EQ(static_cast<int>(result.size()), nRows);
        return result;
    }

    int countItems() { return static_cast<int>(items().size()); }

    SqlSelectStatement selectItems(const std::string& strColumn = "", const SqlValue& value = SqlValue()) const
    {
        SqlSelectStatement select(_tbItem);
        for (const char* pszColumn : {"Id", "Name", "Note", "Count", "Digits"}) {
            select.addColumn(SqlColumn(_tbItem, pszColumn));
        }
        if (!strColumn.empty()) {
            select.setWhere(SqlCondition(SqlColumn(_tbItem, strColumn), value, condEqual));
        }
        select.addOrderBy(SqlColumn(_tbItem, "Id"));
        return select;
    }

    std::unique_ptr<OstrelTest::ScratchDatabase> _pscratch;
    std::unique_ptr<DalDatabase> _pdb;
    SqlSchema _schema{"ostrel_test"};
    SqlTable _tbItem{_schema, "Item"};
};

TEST_P(DalEngine, InsertSelectUpdateDeleteRoundTrip)
{
    EXPECT_EQ(1, insertItem(1, SqlText("one")));
    EXPECT_EQ(1, insertItem(2, SqlText("two")));
    EXPECT_EQ(1, insertItem(3, SqlText("three")));

    DalDatabase::Result result = items("Name", SqlText("two"));
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ(2, result[0]["Id"].asInt());

    SqlColumn colCount(_tbItem, "Count");
    colCount.setValue(SqlInteger(7));
    SqlUpdateStatement update(_tbItem);
    update.addColumn(colCount);
    update.setWhere(SqlCondition(SqlColumn(_tbItem, "Id"), SqlInteger(2), condGreaterEqual));
    EXPECT_EQ(2, _pdb->execute(update));
    EXPECT_EQ(7, items("Id", SqlInteger(3))[0]["Count"].asInt());

    SqlDeleteStatement remove(_tbItem);
    remove.setWhere(SqlCondition(SqlColumn(_tbItem, "Name"), SqlText("one"), condEqual));
    EXPECT_EQ(1, _pdb->execute(remove));
    EXPECT_EQ(0, _pdb->execute(remove));
    EXPECT_EQ(2, countItems());
}

TEST_P(DalEngine, HostileTextRoundTripsUnchanged)
{
    const std::vector<std::string> textS = {
        "O'Brien",           "say \"hi\"",          "x'; DROP TABLE Item; --", "/* comment */ -- more",
        "back\\slash\\",     "\\' OR 1=1 -- ",      "semi;colon;;",            "Grüße ☃ 日本語 😀",
        "tab\tnew\nline\r",  "%_ wildcards _%",     "",                        "`back`ticks`",
        "$1 ? :name ?? $2",  std::string(250, 'z')};
    int nId = 0;
    for (const std::string& strText : textS) {
        ++nId;
        ASSERT_EQ(1, insertItem(nId, SqlText(strText), SqlText(strText))) << strText;
    }
    nId = 0;
    for (const std::string& strText : textS) {
        ++nId;
        DalDatabase::Result result = items("Name", SqlText(strText));
        ASSERT_EQ(1u, result.size()) << strText;
        EXPECT_EQ(nId, result[0]["Id"].asInt());
        EXPECT_EQ(strText, result[0]["Name"].string());
        EXPECT_EQ(strText, result[0]["Note"].string());
    }
    EXPECT_EQ(static_cast<int>(textS.size()), countItems());
}

TEST_P(DalEngine, LongTextRoundTripsWhole)
{
    std::string strLong;
    for (int n = 0; n < 20000; ++n) {
        strLong += static_cast<char>('a' + n % 26);
    }
    strLong += "ü";
    insertItem(1, SqlText("long"), SqlText(strLong));
    EXPECT_EQ(strLong, items()[0]["Note"].string());
}

TEST_P(DalEngine, NullColumnsAreLeftOutOfTheRow)
{
    insertItem(1, SqlText("named"));
    DalDatabase::Result result = items();
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ(1u, result[0].count("Name"));
    EXPECT_EQ(0u, result[0].count("Note"));
    EXPECT_EQ(0u, result[0].count("Count"));

    DalDatabase::Result none = items("Note", SqlText("x"));
    EXPECT_TRUE(none.empty());

    SqlSelectStatement select(_tbItem);
    select.addColumn(SqlColumn(_tbItem, "Id"));
    select.setWhere(SqlCondition(SqlColumn(_tbItem, "Note"), SqlColumnPtr(), condIsNull));
    DalDatabase::Result result2;
    EXPECT_EQ(1, _pdb->query(result2, select, 0));
}

TEST_P(DalEngine, RowsHoldColumnsUnderTheirResultNames)
{
    insertItem(4, SqlText("four"));
    SqlColumn colId(_tbItem, "Id");
    SqlColumn colName(_tbItem, "Name", "Label");
    SqlFunction max("MAX", "");
    max.addColumn(colId);
    SqlFunction min("MIN", "Lowest");
    min.addColumn(colId);

    SqlSelectStatement plain(_tbItem);
    plain.addColumn(colId);
    plain.addColumn(colName);
    DalDatabase::Result result;
    ASSERT_EQ(1, _pdb->query(result, plain, 0));
    EXPECT_EQ((std::vector<std::string>{"Id", "Label"}),
              (std::vector<std::string>{result[0].begin()->first, std::next(result[0].begin())->first}));
    EXPECT_EQ("four", result[0][colName.resultName()].string());

    SqlSelectStatement functions(_tbItem);
    functions.addColumn(max);
    functions.addColumn(min);
    ASSERT_EQ(1, _pdb->query(result, functions, 0));
    EXPECT_EQ(4, result[0][max.resultName()].asInt());
    EXPECT_EQ(4, result[0][min.resultName()].asInt());

    // An aliased table: columns are qualified, results still carry the column names.
    SqlTable tbAliased(_schema, "Item", "IT");
    SqlSelectStatement aliased(tbAliased);
    aliased.addColumn(SqlColumn(tbAliased, "Name", "Name"));
    aliased.setWhere(SqlCondition(SqlColumn(tbAliased, "Id"), SqlInteger(4), condEqual));
    ASSERT_EQ(1, _pdb->query(result, aliased, 0));
    EXPECT_EQ("four", result[0]["Name"].string());
}

TEST_P(DalEngine, MaxOfNothingHoldsNoColumn)
{
    SqlFunction max("MAX", "");
    max.addColumn(SqlColumn(_tbItem, "Id"));
    SqlSelectStatement select(_tbItem);
    select.addColumn(max);
    DalDatabase::Result result;
    ASSERT_EQ(1, _pdb->query(result, select, 0));
    EXPECT_TRUE(result[0].empty());

    insertItem(9, SqlText("nine"));
    insertItem(3, SqlText("three"));
    ASSERT_EQ(1, _pdb->query(result, select, 0));
    EXPECT_EQ(9, result[0][max.resultName()].asInt());
}

TEST_P(DalEngine, IntegersReadFromTextColumnsThatHoldDigits)
{
    SqlColumn colId(_tbItem, "Id");
    SqlColumn colDigits(_tbItem, "Digits");
    colId.setValue(SqlInteger(1));
    colDigits.setValue(SqlText("-12345"));
    SqlInsertStatement insert(_tbItem);
    insert.addColumn(colId);
    insert.addColumn(colDigits);
    _pdb->execute(insert);
    DalDatabase::Result result = items();
    EXPECT_EQ(-12345, result[0]["Digits"].asInt());
    EXPECT_EQ(SqlValue::typeText, result[0]["Digits"].type());
    EXPECT_EQ(SqlValue::typeInteger, result[0]["Id"].type());
    EXPECT_EQ("1", result[0]["Id"].string());
}

TEST_P(DalEngine, ReservedWordTableIsUsable)
{
    SqlTable tbUser(_schema, "User");
    SqlColumn colDomain(tbUser, "Domain");
    SqlColumn colUserId(tbUser, "UserId");
    SqlColumn colName(tbUser, "Name");
    colDomain.setValue(SqlText("acme"));
    colUserId.setValue(SqlText("bob"));
    colName.setValue(SqlText("Bob"));
    SqlInsertStatement insert(tbUser);
    insert.addColumn(colDomain);
    insert.addColumn(colUserId);
    insert.addColumn(colName);
    EXPECT_EQ(1, _pdb->execute(insert));

    SqlCompoundCondition where(compAnd);
    where.addCondition(SqlCondition(colDomain, SqlText("acme"), condEqual));
    where.addCondition(SqlCondition(colUserId, SqlText("bob"), condEqual));
    SqlSelectStatement select(tbUser);
    select.addColumn(colName);
    select.setWhere(where);
    DalDatabase::Result result;
    ASSERT_EQ(1, _pdb->query(result, select, 0));
    EXPECT_EQ("Bob", result[0]["Name"].string());
}

TEST_P(DalEngine, LikePatternsMeanTheSameOnEveryEngine)
{
    int nId = 0;
    for (const char* pszName : {"a%b", "axb", "a\\b", "ab", "xa_bx"}) {
        insertItem(++nId, SqlText(pszName));
    }
    auto matches = [&](const std::string& strPattern, LikeModifier like) {
        SqlSelectStatement select(_tbItem);
        select.addColumn(SqlColumn(_tbItem, "Name"));
        select.setWhere(SqlCondition(SqlColumn(_tbItem, "Name"), SqlText(strPattern), condLike,
                                     SqlConditionModifier(like)));
        select.addOrderBy(SqlColumn(_tbItem, "Id"));
        DalDatabase::Result result;
        _pdb->query(result, select, 0);
        std::vector<std::string> nameS;
        for (auto& row : result) {
            nameS.push_back(row["Name"].string());
        }
        return nameS;
    };
    EXPECT_EQ((std::vector<std::string>{"a%b", "axb", "a\\b", "ab"}), matches("a%b", likeAsIs));
    EXPECT_EQ((std::vector<std::string>{"a\\b"}), matches("a\\b", likeAsIs));
    EXPECT_EQ((std::vector<std::string>{"a%b", "axb", "a\\b"}), matches("a_b", likeAsIs));
    EXPECT_EQ((std::vector<std::string>{"a%b"}), matches("%", likeContains));
    EXPECT_EQ((std::vector<std::string>{"xa_bx"}), matches("a_b", likeContains));
    EXPECT_EQ((std::vector<std::string>{"a\\b"}), matches("\\b", likeEndsWith));
    EXPECT_EQ((std::vector<std::string>{"xa_bx"}), matches("x", likeStartsWith));
}

TEST_P(DalEngine, InnerJoinDeliversColumnsOfBothTables)
{
    insertItem(1, SqlText("one"));
    insertItem(2, SqlText("two"));
    SqlTable tbTag(_schema, "Tag");
    for (auto [nId, pszTag] : {std::pair<int, const char*>{1, "red"}, {1, "blue"}, {2, "red"}}) {
        SqlColumn colId(tbTag, "Id");
        SqlColumn colTag(tbTag, "Tag");
        colId.setValue(SqlInteger(nId));
        colTag.setValue(SqlText(pszTag));
        SqlInsertStatement insert(tbTag);
        insert.addColumn(colId);
        insert.addColumn(colTag);
        _pdb->execute(insert);
    }
    SqlColumn colItemId(_tbItem, "Id");
    SqlSelectStatement select(_tbItem);
    select.addColumn(SqlColumn(_tbItem, "Name"));
    select.addColumn(SqlColumn(tbTag, "Tag"));
    select.addJoin(SqlJoin(tbTag, joinInner, SqlCondition(colItemId, SqlColumn(tbTag, "Id"), condEqual)));
    select.setWhere(SqlCondition(SqlColumn(tbTag, "Tag"), SqlText("red"), condEqual));
    select.addOrderBy(colItemId);
    DalDatabase::Result result;
    ASSERT_EQ(2, _pdb->query(result, select, 0));
    EXPECT_EQ("one", result[0]["Name"].string());
    EXPECT_EQ("red", result[0]["Tag"].string());
    EXPECT_EQ("two", result[1]["Name"].string());
}

TEST_P(DalEngine, QueryDeliversAtMostTheRowsAsked)
{
    for (int n = 1; n <= 5; ++n) {
        insertItem(n, SqlText("n"));
    }
    SqlSelectStatement select(_tbItem);
    select.addColumn(SqlColumn(_tbItem, "Id"));
    DalDatabase::Result result(7);  // replaced, not appended to
    EXPECT_EQ(2, _pdb->query(result, select, 2));
    EXPECT_EQ(2u, result.size());
    // The handle goes on normally after a result that was not read to its end.
    EXPECT_EQ(5, _pdb->query(result, select, 0));
}

TEST_P(DalEngine, UpdateCountsMatchedRowsEvenWhenNothingChanges)
{
    insertItem(1, SqlText("same"));
    SqlColumn colName(_tbItem, "Name");
    colName.setValue(SqlText("same"));
    SqlUpdateStatement update(_tbItem);
    update.addColumn(colName);
    update.setWhere(SqlCondition(SqlColumn(_tbItem, "Id"), SqlInteger(1), condEqual));
    EXPECT_EQ(1, _pdb->execute(update));
}

TEST_P(DalEngine, RollbackUndoesEverythingSinceBegin)
{
    insertItem(1, SqlText("before"));
    _pdb->begin();
    EXPECT_TRUE(_pdb->inTransaction());
    insertItem(2, SqlText("inside"));
    SqlDeleteStatement remove(_tbItem);
    remove.setWhere(SqlCondition(SqlColumn(_tbItem, "Id"), SqlInteger(1), condEqual));
    _pdb->execute(remove);
    EXPECT_EQ(1, countItems());
    _pdb->rollback();
    EXPECT_FALSE(_pdb->inTransaction());
    DalDatabase::Result result = items();
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ("before", result[0]["Name"].string());
}

TEST_P(DalEngine, CommitKeepsTheWorkForOtherHandles)
{
    std::unique_ptr<DalDatabase> pother = _pscratch->open();
    _pdb->begin();
    insertItem(1, SqlText("kept"));
    _pdb->commit();
    EXPECT_EQ(1u, items("", SqlValue(), pother.get()).size());
}

TEST_P(DalEngine, TransactionsOutOfOrderAreRefused)
{
    EXPECT_THROW(_pdb->commit(), DalDatabaseException);
    EXPECT_THROW(_pdb->rollback(), DalDatabaseException);
    _pdb->begin();
    try {
        _pdb->begin();
        FAIL() << "a second begin was taken";
    } catch (const DalDatabaseException& e) {
        EXPECT_EQ(DDBERR_TRANSACTION, e.errorCode());
    }
    _pdb->rollback();
}

TEST_P(DalEngine, BatchOfReadsLeavesNoTransactionAndWritesInsideItAreCommittedAtOnce)
{
    insertItem(1, SqlText("first"));
    std::unique_ptr<DalDatabase> pother = _pscratch->open();
    {
        DalReads reads(*_pdb);
        EXPECT_EQ(1, countItems());
        // A failed select leaves the batch usable.
        SqlTable tbMissing(_schema, "Missing");
        SqlSelectStatement missing(tbMissing);
        missing.addColumn(SqlColumn(tbMissing, "Id"));
        DalDatabase::Result result;
        EXPECT_THROW(_pdb->query(result, missing, 0), DalDatabaseException);
        EXPECT_EQ(1, countItems());
        // A write is another handle's to see before the batch is over, as without one.
        insertItem(2, SqlText("second"));
        EXPECT_EQ(2u, items("", SqlValue(), pother.get()).size());
        EXPECT_EQ(2, countItems());
        EXPECT_FALSE(_pdb->inTransaction());
    }
    EXPECT_FALSE(_pdb->inTransaction());
    // The handle takes a transaction and other handles write as before.
    _pdb->begin();
    insertItem(3, SqlText("third"));
    _pdb->commit();
    insertItem(4, SqlText("fourth"), SqlValue(), pother.get());
    EXPECT_EQ(4, countItems());
}

TEST_P(DalEngine, BatchOfReadsInsideATransactionLeavesItToTheCaller)
{
    _pdb->begin();
    insertItem(1, SqlText("inside"));
    {
        DalReads reads(*_pdb);
        EXPECT_EQ(1, countItems());
    }
    EXPECT_TRUE(_pdb->inTransaction());
    _pdb->rollback();
    EXPECT_EQ(0, countItems());
}

TEST_P(DalEngine, WriterOnAnotherHandleGetsThroughOnceTheBatchEnds)
{
    insertItem(1, SqlText("first"));
    std::unique_ptr<DalDatabase> pother = _pscratch->open();
    {
        DalReads reads(*_pdb);
        EXPECT_EQ(1, countItems());
    }
    // Nothing of the batch is left holding the database.
    pother->begin();
    insertItem(2, SqlText("second"), SqlValue(), pother.get());
    pother->commit();
    EXPECT_EQ(2, countItems());
}

TEST_P(DalEngine, FailedStatementCarriesTheServersMessage)
{
    insertItem(1, SqlText("first"));
    try {
        insertItem(1, SqlText("again"));
        FAIL() << "duplicate key accepted";
    } catch (const DalDatabaseException& e) {
        EXPECT_EQ(DDBERR_STATEMENT, e.errorCode());
        const std::string& strText = e.nativeExplanation();
        const char* pszNative = GetParam() == "sqlite"       ? "UNIQUE constraint failed"
                                : GetParam() == "postgresql" ? "duplicate key value"
                                                             : "Duplicate entry";
        EXPECT_NE(std::string::npos, strText.find(pszNative)) << strText;
        EXPECT_NE(std::string::npos, strText.find("INSERT INTO")) << strText;
    }
    SqlTable tbMissing(_schema, "Missing");
    SqlSelectStatement select(tbMissing);
    select.addColumn(SqlColumn(tbMissing, "x"));
    DalDatabase::Result result;
    try {
        _pdb->query(result, select, 0);
        FAIL() << "select from a missing table";
    } catch (const DalDatabaseException& e) {
        EXPECT_NE(std::string::npos, e.nativeExplanation().find("Missing")) << e.nativeExplanation();
    }
    // The handle is still good.
    EXPECT_EQ(1, countItems());
    EXPECT_THROW(_pdb->executeScript("CREATE TABLE"), DalDatabaseException);
    EXPECT_EQ(1, countItems());
}

// Values may be secrets (a session's digest, a password hash) and failure texts go to logs: a
// duplicate key and a value the column cannot hold are reported without the value.
TEST_P(DalEngine, FailureTextsWithholdTheValues)
{
    const std::string strMarker = "k3pt-s3cr3t";
    SqlTable tbUser(_schema, "User");
    auto insertUser = [&](const std::string& strUserId) {
        SqlColumn colDomain(tbUser, "Domain");
        SqlColumn colUserId(tbUser, "UserId");
        colDomain.setValue(SqlText("d"));
        colUserId.setValue(SqlText(strUserId));
        SqlInsertStatement insert(tbUser);
        insert.addColumn(colDomain);
        insert.addColumn(colUserId);
        _pdb->execute(insert);
    };
    insertUser(strMarker);
    try {
        insertUser(strMarker);
        FAIL() << "duplicate key accepted";
    } catch (const DalDatabaseException& e) {
        EXPECT_EQ(std::string::npos, e.nativeExplanation().find(strMarker)) << e.nativeExplanation();
    }
    if (GetParam() == "sqlite") {
        return;  // its refusal of a text as an integer key quotes nothing
    }
    try {
        SqlColumn colId(_tbItem, "Id");
        colId.setValue(SqlText(strMarker));
        SqlInsertStatement insert(_tbItem);
        insert.addColumn(colId);
        _pdb->execute(insert);
        FAIL() << "a text was taken for an integer";
    } catch (const DalDatabaseException& e) {
        EXPECT_EQ(DDBERR_VALUE, e.errorCode()) << e.nativeExplanation();
        EXPECT_EQ(std::string::npos, e.nativeExplanation().find(strMarker)) << e.nativeExplanation();
    }
}

TEST_P(DalEngine, CommitAfterAFailedStatementNeverReportsLostWorkAsSaved)
{
    _pdb->begin();
    insertItem(1, SqlText("first"));
    EXPECT_THROW(insertItem(1, SqlText("duplicate")), DalDatabaseException);
    if (GetParam() == "postgresql") {
        // PostgreSQL dropped the whole transaction at the failure; its COMMIT is a rollback.
        try {
            _pdb->commit();
            FAIL() << "commit reported success";
        } catch (const DalDatabaseException& e) {
            EXPECT_EQ(DDBERR_TRANSACTION, e.errorCode());
        }
        EXPECT_EQ(0, countItems());
    } else {
        _pdb->commit();
        EXPECT_EQ(1, countItems());
    }
    EXPECT_FALSE(_pdb->inTransaction());
}

TEST_P(DalEngine, SelectIsRefusedByExecute)
{
    SqlSelectStatement select(_tbItem);
    select.addColumn(SqlColumn(_tbItem, "Id"));
    EXPECT_THROW(_pdb->execute(select), SqlException);
}

TEST_P(DalEngine, ManyDistinctStatementsOutgrowTheCacheSafely)
{
    insertItem(1, SqlText("a"));
    insertItem(2, SqlText("b"));
    for (int nRound = 0; nRound < 2; ++nRound) {
        for (int nLimit = 1; nLimit <= 80; ++nLimit) {
            SqlSelectStatement select(_tbItem);
            select.addColumn(SqlColumn(_tbItem, "Id"));
            select.setLimit(nLimit);
            DalDatabase::Result result;
            ASSERT_EQ(nLimit == 1 ? 1 : 2, _pdb->query(result, select, 0)) << nLimit;
        }
    }
}

TEST_P(DalEngine, HandlesWorkFromSeveralThreadsAtOnce)
{
    constexpr int nThreads = 4;
    constexpr int nRowsEach = 20;
    std::vector<std::thread> threadS;
    std::vector<std::string> errorS(nThreads);
    for (int nThread = 0; nThread < nThreads; ++nThread) {
        threadS.emplace_back([&, nThread] {
            try {
                std::unique_ptr<DalDatabase> pdb = _pscratch->open();
                for (int n = 0; n < nRowsEach; ++n) {
                    insertItem(nThread * 1000 + n, SqlText("t" + std::to_string(nThread)), SqlValue(), pdb.get());
                    items("Id", SqlInteger(nThread * 1000 + n), pdb.get());
                }
            } catch (const std::exception& e) {
                errorS[nThread] = e.what();
            }
        });
    }
    for (auto& thread : threadS) {
        thread.join();
    }
    for (const std::string& strError : errorS) {
        EXPECT_EQ("", strError);
    }
    EXPECT_EQ(nThreads * nRowsEach, countItems());
}

// ---- result rows

TEST_P(DalEngine, ReusedResultHoldsOnlyTheNewRows)
{
    for (int n = 1; n <= 4; ++n) {
        insertItem(n, SqlText("item" + std::to_string(n)), n % 2 ? SqlText("odd") : SqlValue());
    }
    DalDatabase::Result result = items();
    ASSERT_EQ(4u, result.size());
    result[0]["Extra"] = SqlText("added by hand");

    // Fewer rows and other columns: nothing of the earlier content may remain.
    SqlSelectStatement select(_tbItem);
    select.addColumn(SqlColumn(_tbItem, "Name", "Label"));
    select.setWhere(SqlCondition(SqlColumn(_tbItem, "Id"), SqlInteger(3), condGreaterEqual));
    select.addOrderBy(SqlColumn(_tbItem, "Id"));
    ASSERT_EQ(2, _pdb->query(result, select, 0));
    ASSERT_EQ(2u, result.size());
    for (const DalDatabase::Row& row : result) {
        ASSERT_EQ(1u, row.size());
        EXPECT_EQ("Label", row.begin()->first);
    }
    EXPECT_EQ("item3", result[0]["Label"].string());
    EXPECT_EQ("item4", result[1]["Label"].string());

    // More rows again, with a NULL column in some of them.
    ASSERT_EQ(4, _pdb->query(result, selectItems(), 0));
    EXPECT_EQ(1u, result[0].count("Note"));
    EXPECT_EQ(0u, result[1].count("Note"));
    EXPECT_EQ(0u, result[0].count("Extra"));
}

TEST_P(DalEngine, ColumnAddedToOneRowStaysInThatRow)
{
    insertItem(1, SqlText("one"));
    insertItem(2, SqlText("two"), SqlText("note"));
    DalDatabase::Result result = items();
    ASSERT_EQ(2u, result.size());
    // A column the result has but this row lacks (NULL), and one the result does not have.
    result[0]["Note"] = SqlText("filled in");
    result[0]["Extra"] = SqlInteger(7);
    DalDatabase::Row copy = result[1];
    copy["Extra"] = SqlInteger(8);
    EXPECT_EQ("filled in", result[0]["Note"].string());
    EXPECT_EQ(7, result[0].at("Extra").asInt());
    EXPECT_EQ(0u, result[1].count("Extra"));
    EXPECT_EQ("note", result[1].at("Note").string());
    EXPECT_EQ(8, copy.at("Extra").asInt());
    std::vector<std::string> nameS;
    for (const auto& [strName, value] : result[0]) {
        nameS.push_back(strName);
        EXPECT_TRUE(value.isValid()) << strName;
    }
    EXPECT_EQ((std::vector<std::string>{"Extra", "Id", "Name", "Note"}), nameS);
}

TEST_P(DalEngine, RowsOutliveTheHandleThatReadThem)
{
    insertItem(1, SqlText(std::string(100, 'n')), SqlText("note"));
    DalDatabase::Result result;
    {
        std::unique_ptr<DalDatabase> pdb = _pscratch->open();
        result = items("", SqlValue(), pdb.get());
    }
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ(std::string(100, 'n'), result[0].at("Name").string());
    EXPECT_EQ("note", result[0].at("Note").string());
    EXPECT_EQ(1, result[0].at("Id").asInt());
}

TEST_P(DalEngine, LaterOfTwoColumnsUnderOneNameWins)
{
    insertItem(1, SqlText("name"), SqlText("note"));
    insertItem(2, SqlText("name"));
    SqlSelectStatement select(_tbItem);
    select.addColumn(SqlColumn(_tbItem, "Name", "Both"));
    select.addColumn(SqlColumn(_tbItem, "Note", "Both"));
    select.addOrderBy(SqlColumn(_tbItem, "Id"));
    DalDatabase::Result result;
    ASSERT_EQ(2, _pdb->query(result, select, 0));
    ASSERT_EQ(1u, result[0].size());
    EXPECT_EQ("note", result[0]["Both"].string());
    // A NULL takes nothing away from the earlier column.
    ASSERT_EQ(1u, result[1].size());
    EXPECT_EQ("name", result[1]["Both"].string());
}

TEST_P(DalEngine, StatementsTakingTurnsOnOneHandleKeepTheirColumnNames)
{
    insertItem(1, SqlText("one"), SqlText("note"));
    SqlSelectStatement byName(_tbItem);
    byName.addColumn(SqlColumn(_tbItem, "Name"));
    byName.addColumn(SqlColumn(_tbItem, "Note"));
    SqlSelectStatement byAlias(_tbItem);
    byAlias.addColumn(SqlColumn(_tbItem, "Name", "Note"));
    byAlias.addColumn(SqlColumn(_tbItem, "Note", "Name"));
    DalDatabase::Result result;
    for (int nRound = 0; nRound < 3; ++nRound) {
        ASSERT_EQ(1, _pdb->query(result, byName, 0));
        EXPECT_EQ("one", result[0]["Name"].string());
        EXPECT_EQ("note", result[0]["Note"].string());
        ASSERT_EQ(1, _pdb->query(result, byAlias, 0));
        EXPECT_EQ("note", result[0]["Name"].string());
        EXPECT_EQ("one", result[0]["Note"].string());
    }
}

TEST_P(DalEngine, ManyValuesOfEitherKindBindInOrder)
{
    // More values than a statement usually has, integers and texts mixed.
    SqlCompoundCondition anyOf(compOr);
    for (int n = 1; n <= 12; ++n) {
        insertItem(n, SqlText("item" + std::to_string(n)));
        if (n % 3 == 0) {
            anyOf.addCondition(SqlCondition(SqlColumn(_tbItem, "Name"), SqlText("item" + std::to_string(n)), condEqual));
        } else if (n % 3 == 1) {
            anyOf.addCondition(SqlCondition(SqlColumn(_tbItem, "Id"), SqlInteger(n), condEqual));
        }
    }
    anyOf.addCondition(SqlCondition(SqlColumn(_tbItem, "Name"), SqlText("nobody"), condEqual));
    SqlSelectStatement select(_tbItem);
    select.addColumn(SqlColumn(_tbItem, "Id"));
    select.setWhere(anyOf);
    select.addOrderBy(SqlColumn(_tbItem, "Id"));
    DalDatabase::Result result;
    ASSERT_EQ(8, _pdb->query(result, select, 0));
    std::vector<int> idS;
    for (const DalDatabase::Row& row : result) {
        idS.push_back(row.at("Id").asInt());
    }
    EXPECT_EQ((std::vector<int>{1, 3, 4, 6, 7, 9, 10, 12}), idS);
}

// ---- broken connections (servers only: SQLite has no connection to break)

class DalServerEngine : public DalEngine {
protected:
    // The server's id of the handle's session.
    int sessionId(DalDatabase& db)
    {
        SqlSelectStatement select(_tbItem);
        select.addColumn(SqlFunction(GetParam() == "postgresql" ? "pg_backend_pid" : "CONNECTION_ID", "session"));
        select.setLimit(1);
        DalDatabase::Result result;
        if (db.query(result, select, 0) != 1) {
            throw std::runtime_error("Item must hold a row to read the session id");
        }
        return result[0]["session"].asInt();
    }

    // Ends the session from another connection and waits until the server has let it go.
    void killSession(int nSession)
    {
        std::unique_ptr<DalDatabase> padmin = _pscratch->open();
        const bool bPg = GetParam() == "postgresql";
        padmin->executeScript(bPg ? "SELECT pg_terminate_backend(" + std::to_string(nSession) + ")"
                                  : "KILL CONNECTION " + std::to_string(nSession));
        SqlTable tbSessions = bPg ? SqlTable(SqlSchema("pg_catalog", true), "pg_stat_activity")
                                  : SqlTable(SqlSchema("information_schema", true), "PROCESSLIST");
        SqlSelectStatement select(tbSessions);
        select.addColumn(SqlFunction("COUNT", "n"));
        select.setWhere(SqlCondition(SqlColumn(tbSessions, bPg ? "pid" : "ID"), SqlInteger(nSession), condEqual));
        for (int nTry = 0; nTry < 100; ++nTry) {
            DalDatabase::Result result;
            padmin->query(result, select, 0);
            if (result[0]["n"].asInt() == 0) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        FAIL() << "session " << nSession << " did not end";
    }
};

TEST_P(DalServerEngine, HandleReachesTheServerAgainAfterItsSessionEnded)
{
    insertItem(1, SqlText("one"));
    int nSession = sessionId(*_pdb);
    killSession(nSession);
    // The next statement finds the connection broken, connects again and runs.
    DalDatabase::Result result = items();
    ASSERT_EQ(1u, result.size());
    EXPECT_NE(nSession, sessionId(*_pdb));
    EXPECT_EQ(1, insertItem(2, SqlText("two")));

    killSession(sessionId(*_pdb));
    _pdb->begin();  // also reconnects
    insertItem(3, SqlText("three"));
    _pdb->commit();
    EXPECT_EQ(3, countItems());
}

TEST_P(DalServerEngine, BrokenConnectionInsideATransactionReportsTheLostWork)
{
    insertItem(1, SqlText("one"));
    _pdb->begin();
    insertItem(2, SqlText("lost"));
    killSession(sessionId(*_pdb));
    try {
        insertItem(3, SqlText("after"));
        FAIL() << "statement on a broken transaction succeeded";
    } catch (const DalDatabaseException& e) {
        EXPECT_EQ(DDBERR_CONNECTIONLOST, e.errorCode()) << e.nativeExplanation();
    }
    EXPECT_FALSE(_pdb->inTransaction());
    DalDatabase::Result result = items();
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ("one", result[0]["Name"].string());
}

TEST_P(DalServerEngine, RollbackOnABrokenConnectionIsWhatWasAsked)
{
    _pdb->begin();
    insertItem(1, SqlText("x"));
    insertItem(2, SqlText("y"));
    killSession(sessionId(*_pdb));
    EXPECT_NO_THROW(_pdb->rollback());
    EXPECT_EQ(0, countItems());
}

INSTANTIATE_TEST_SUITE_P(Engines, DalEngine, ::testing::ValuesIn(OstrelTest::testEngines()), OstrelTest::engineTestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DalServerEngine);
INSTANTIATE_TEST_SUITE_P(Servers, DalServerEngine, ::testing::ValuesIn(OstrelTest::serverEngines()),
                         OstrelTest::engineTestName);

} // namespace
