// The generator the scale benchmarks rely on: sizes that grow with the users and stay fillable, and a
// fill that leaves the database as the daemons expect it (every user's password, the change counter
// moved and its triggers working afterwards, on every engine).

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gen/Generator.h"
#include "harness/TestDatabases.h"
#include "VeskDal/VeskDal.h"

namespace {

TEST(GeneratorSize, ScalesTheOrganisationWithItsUsersAndKeepsWhatOneUserHolds)
{
    const OstrelGen::Size base;
    const OstrelGen::Size same = OstrelGen::scaledTo(base.nUsers);
    EXPECT_EQ(base.nCustomers, same.nCustomers);
    EXPECT_EQ(base.nDomains, same.nDomains);
    EXPECT_EQ(base.nTeams, same.nTeams);
    EXPECT_EQ(base.nProducts, same.nProducts);

    const OstrelGen::Size large = OstrelGen::scaledTo(1000000);
    EXPECT_EQ(100 * base.nCustomers, large.nCustomers);
    EXPECT_EQ(100 * base.nDomains, large.nDomains);
    EXPECT_EQ(100 * base.nTeams, large.nTeams);
    EXPECT_EQ(100 * base.nProducts, large.nProducts);
    EXPECT_EQ(base.nTeamsPerUser, large.nTeamsPerUser);
    EXPECT_EQ(base.nProductsPerTeam, large.nProductsPerTeam);

    // Rounded down to nothing, a count would make a shape the fill refuses.
    for (int nUsers : {0, 1, 7, 499, 501, 12345})
        EXPECT_NO_THROW(OstrelGen::check(OstrelGen::scaledTo(nUsers))) << nUsers << " users";
}

class GeneratorFill : public ::testing::TestWithParam<std::string> {
protected:
    OstrelTest::ScratchDatabase _scratch{GetParam()};
};

// Every row of a table's one text column.
VeskDal::DalDatabase::Result columnOf(VeskDal::DalDatabase& database, const char* pszTable, const char* pszColumn)
{
    const VeskDal::SqlTable table(VeskDal::SqlSchema(), pszTable);
    VeskDal::SqlSelectStatement select(table);
    select.addColumn(VeskDal::SqlColumn(table, pszColumn));
    VeskDal::DalDatabase::Result result;
    database.query(result, select, 0);
    return result;
}

long counter(VeskDal::DalDatabase& database)
{
    const VeskDal::DalDatabase::Result result = columnOf(database, "ModelChange", "Counter");
    return result.size() == 1 ? result.front().at("Counter").asInt() : -1;
}

TEST_P(GeneratorFill, WritesEveryUserWithThePasswordAndLeavesTheChangeCounterWorking)
{
    std::unique_ptr<VeskDal::DalDatabase> pdatabase = _scratch.open();
    OstrelGen::loadSchema(*pdatabase, std::string(OSTREL_SQL_DIR) + "/" + GetParam() + ".sql");
    const OstrelGen::Size size = OstrelGen::scaledTo(300);
    EXPECT_GT(OstrelGen::fill(*pdatabase, size, "plugin.so", "stored-hash"), 300);

    const VeskDal::DalDatabase::Result userS = columnOf(*pdatabase, "User", "AuthenticationToken");
    ASSERT_EQ(300u, userS.size());
    for (const auto& row : userS)
        ASSERT_EQ("stored-hash", row.at("AuthenticationToken").string());
    EXPECT_EQ(static_cast<size_t>(size.nTeams), columnOf(*pdatabase, "Team", "Name").size());

    // A daemon started on the database afterwards must still see the next change.
    const long nFilled = counter(*pdatabase);
    EXPECT_GT(nFilled, 0);
    const VeskDal::SqlTable table(VeskDal::SqlSchema(), "Customer");
    VeskDal::SqlInsertStatement insert(table);
    insert.addColumn(VeskDal::SqlColumn(table, "Customer"), VeskDal::SqlText("late"));
    pdatabase->execute(insert);
    EXPECT_GT(counter(*pdatabase), nFilled);
}

INSTANTIATE_TEST_SUITE_P(Engines, GeneratorFill, ::testing::ValuesIn(OstrelTest::testEngines()),
                         OstrelTest::engineTestName);

} // namespace
