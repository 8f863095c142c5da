// Result rows and values on their own: the ordered-map behaviour callers rely on, copies that stay
// independent of the rows they came from, and values that keep their kind, text and alias.

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "VeskDal/VeskDal.h"

using namespace VeskDal;

namespace {

using Row = DalDatabase::Row;

std::vector<std::string> namesOf(const Row& row)
{
    std::vector<std::string> nameS;
    for (const auto& entry : row) {
        nameS.push_back(entry.first);
    }
    return nameS;
}

// Longer than any string kept inside its own object, so moves and copies must carry the heap text.
const std::string g_strLong(200, 'x');

class DalRowMap : public ::testing::Test {};

TEST_F(DalRowMap, EntriesAreIteratedInNameOrderWhateverTheInsertionOrder)
{
    Row row;
    row["Status"] = SqlInteger(1);
    row.emplace("Domain", SqlText("D1"));
    row.insert({"UserId", SqlText("u")});
    row.try_emplace("Customer", SqlText("C"));
    row["AuthenticationLibrary"] = SqlText(g_strLong);
    EXPECT_EQ((std::vector<std::string>{"AuthenticationLibrary", "Customer", "Domain", "Status", "UserId"}),
              namesOf(row));
    EXPECT_EQ(g_strLong, row.at("AuthenticationLibrary").string());
    EXPECT_EQ("UserId", row.rbegin()->first);
    EXPECT_EQ(5u, row.size());
}

TEST_F(DalRowMap, LookupsFindPresentNamesOnly)
{
    const Row row{{"Name", SqlText("n")}, {"Id", SqlInteger(7)}};
    ASSERT_NE(row.end(), row.find("Id"));
    EXPECT_EQ(7, row.find("Id")->second.asInt());
    EXPECT_EQ(row.end(), row.find("id"));
    EXPECT_EQ(row.end(), row.find("Iden"));
    EXPECT_EQ(row.end(), row.find(""));
    EXPECT_EQ(1u, row.count("Name"));
    EXPECT_EQ(0u, row.count("Note"));
    EXPECT_EQ("n", row.at("Name").string());
    EXPECT_THROW(row.at("Note"), std::out_of_range);
    EXPECT_TRUE(Row().find("Id") == Row().end());
}

TEST_F(DalRowMap, IndexingAddsAnInvalidValueAndInsertKeepsTheFirst)
{
    Row row{{"Id", SqlInteger(1)}};
    EXPECT_FALSE(row["Note"].isValid());
    EXPECT_EQ(2u, row.size());

    auto [it, bInserted] = row.insert({"Id", SqlInteger(2)});
    EXPECT_FALSE(bInserted);
    EXPECT_EQ(1, it->second.asInt());
    EXPECT_FALSE(row.emplace("Id", SqlInteger(3)).second);
    EXPECT_EQ(1, row["Id"].asInt());

    EXPECT_FALSE(row.insert_or_assign("Id", SqlInteger(4)).second);
    EXPECT_EQ(4, row["Id"].asInt());
    row["Id"] = SqlText("four");
    EXPECT_EQ("four", row.at("Id").string());
}

TEST_F(DalRowMap, ErasingKeepsTheRestInOrder)
{
    Row row{{"A", SqlInteger(1)}, {"B", SqlText(g_strLong)}, {"C", SqlInteger(3)}, {"D", SqlInteger(4)}};
    EXPECT_EQ(1u, row.erase("B"));
    EXPECT_EQ(0u, row.erase("B"));
    EXPECT_EQ((std::vector<std::string>{"A", "C", "D"}), namesOf(row));
    auto it = row.erase(row.find("A"));
    EXPECT_EQ("C", it->first);
    row.erase(row.begin(), row.end());
    EXPECT_TRUE(row.empty());
    row["B"] = SqlText(g_strLong);
    EXPECT_EQ(g_strLong, row["B"].string());
    row.clear();
    EXPECT_EQ(0u, row.size());
}

TEST_F(DalRowMap, MapsConvertBothWays)
{
    std::map<std::string, SqlValue> valueS{{"b", SqlInteger(2)}, {"a", SqlText("1")}};
    Row row(valueS.begin(), valueS.end());
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), namesOf(row));
    std::map<std::string, SqlValue> back(row.begin(), row.end());
    EXPECT_EQ(valueS, back);
    for (auto& [strName, value] : row) {
        value = SqlText(strName + "!");
    }
    EXPECT_EQ("b!", row["b"].string());
}

TEST_F(DalRowMap, RowsCompareByNamesAndValues)
{
    Row a{{"Id", SqlInteger(1)}, {"Name", SqlText("n")}};
    Row b{{"Name", SqlText("n")}, {"Id", SqlInteger(1)}};
    EXPECT_EQ(a, b);
    b["Id"] = SqlText("1");
    EXPECT_NE(a, b);
    b.erase("Id");
    EXPECT_NE(a, b);
}

// ---- copies

class DalRowCopy : public ::testing::Test {};

TEST_F(DalRowCopy, ChangesToACopyLeaveTheOriginalAlone)
{
    Row original{{"Id", SqlInteger(1)}, {"Name", SqlText(g_strLong)}};
    Row copy(original);
    copy["Id"] = SqlInteger(2);
    copy["Extra"] = SqlText("e");
    copy.erase("Name");
    EXPECT_EQ(1, original["Id"].asInt());
    EXPECT_EQ(g_strLong, original["Name"].string());
    EXPECT_EQ(0u, original.count("Extra"));
    EXPECT_EQ((std::vector<std::string>{"Extra", "Id"}), namesOf(copy));

    Row assigned;
    assigned = original;
    original.clear();
    original["Other"] = SqlInteger(0);
    EXPECT_EQ((std::vector<std::string>{"Id", "Name"}), namesOf(assigned));
    EXPECT_EQ(g_strLong, assigned["Name"].string());
}

TEST_F(DalRowCopy, MovedRowsKeepTheirNamesValid)
{
    std::vector<Row> rowS;
    for (int n = 0; n < 50; ++n) {
        // The vector moves its rows as it grows: their names must move along.
        Row row{{"Id", SqlInteger(n)}, {"Name" + std::to_string(n), SqlText(g_strLong)}};
        rowS.push_back(std::move(row));
    }
    for (int n = 0; n < 50; ++n) {
        EXPECT_EQ(n, rowS[n].at("Id").asInt());
        EXPECT_EQ(g_strLong, rowS[n].at("Name" + std::to_string(n)).string());
    }
    Row moved = std::move(rowS[3]);
    EXPECT_EQ(3, moved["Id"].asInt());
}

TEST_F(DalRowCopy, ScratchRowUsedForManyNamesStaysCorrect)
{
    Row row;
    for (int n = 0; n < 500; ++n) {
        row["Column" + std::to_string(n)] = SqlInteger(n);
        if (n % 3 != 0) {
            row.erase("Column" + std::to_string(n));
        }
    }
    ASSERT_EQ(167u, row.size());
    for (const auto& [strName, value] : row) {
        EXPECT_EQ("Column" + std::to_string(value.asInt()), strName);
    }
}

TEST_F(DalRowCopy, CopiesOfOneRowChangeFromSeveralThreadsAtOnce)
{
    const Row original{{"Id", SqlInteger(1)}, {"Name", SqlText("n")}};
    std::vector<Row> copyS(4, original);
    std::vector<std::thread> threadS;
    for (size_t nThread = 0; nThread < copyS.size(); ++nThread) {
        threadS.emplace_back([&copyS, nThread] {
            Row& row = copyS[nThread];
            for (int n = 0; n < 200; ++n) {
                row["T" + std::to_string(n % 20)] = SqlInteger(static_cast<std::int64_t>(nThread));
                Row again(row);
                again.erase("Id");
            }
        });
    }
    for (auto& thread : threadS) {
        thread.join();
    }
    for (size_t nThread = 0; nThread < copyS.size(); ++nThread) {
        EXPECT_EQ(22u, copyS[nThread].size());
        EXPECT_EQ(static_cast<int>(nThread), copyS[nThread]["T7"].asInt());
    }
    EXPECT_EQ(2u, original.size());
}

// ---- values

TEST(SqlValueKinds, AliasesSurviveCopiesAndAreNotCompared)
{
    SqlValue named = SqlInteger(5, "five");
    SqlValue copy = named;
    EXPECT_EQ("five", copy.alias());
    EXPECT_EQ("", SqlInteger(5).alias());
    EXPECT_EQ(named, SqlInteger(5));
    EXPECT_EQ("t", SqlText("x", "t").alias());
    EXPECT_EQ("t", SqlText(std::string("x"), "t").alias());
    EXPECT_EQ("", SqlText(g_strLong).alias());
}

TEST(SqlValueKinds, TextIsReadWithoutConversion)
{
    EXPECT_EQ(g_strLong, SqlText(g_strLong).text());
    EXPECT_EQ("", SqlInteger(12).text());
    EXPECT_EQ("12", SqlInteger(12).string());
    EXPECT_EQ("", SqlValue().text());
    EXPECT_FALSE(SqlText(static_cast<const char*>(nullptr)).isValid());
    EXPECT_FALSE(SqlText(static_cast<const char*>(nullptr), "a").isValid());
    EXPECT_EQ(-3, SqlText("-3").asInt());
    EXPECT_THROW(SqlInteger(std::int64_t(1) << 40).asInt(), SqlException);
    EXPECT_EQ(std::int64_t(1) << 40, SqlInteger(std::int64_t(1) << 40).asInt64());
}

} // namespace
