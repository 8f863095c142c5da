#ifndef OSTREL_TESTS_DB_DBFACTORYFIXTURE_H
#define OSTREL_TESTS_DB_DBFACTORYFIXTURE_H

// What the suites of the database-backed factory share: a scratch database per test on each engine
// holding the schema and a small organisation, rows written and counted with bound values, the
// event log captured, and the process-wide registries emptied after every test.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "OstrelDataDB/OstrelDataDB.h"
#include "VeskDal/VeskDal.h"
#include "harness/TestDatabases.h"

// Expects the statement to throw an OstrelData::Exception with this code and legend.
#define EXPECT_OSTREL_THROW(statement, nCode, strLegend)                          \
    do {                                                                           \
        try {                                                                      \
            statement;                                                             \
            ADD_FAILURE() << "no exception from " #statement;                     \
        } catch (const OstrelData::Exception& e_) {                                \
            EXPECT_EQ((nCode), e_.errorCode()) << e_;                              \
            EXPECT_EQ(std::string(strLegend), e_.legend()) << e_;                  \
        }                                                                          \
    } while (0)

namespace OstrelDbTest {

using Factory = OstrelDataDB::Factory;

// A column value of a fixture row: an integer or a text.
struct Value {
    Value(int n) : value(VeskDal::SqlInteger(n)) {}
    Value(const char* psz) : value(VeskDal::SqlText(psz)) {}
    Value(const std::string& str) : value(VeskDal::SqlText(str)) {}
    VeskDal::SqlValue value;
};
using Fields = std::vector<std::pair<std::string, Value>>;

// Empties every registry and resets the current user, sessions and exporter.
void resetRegistries();

// The registries start and end empty; the event log is captured. Needs no database.
class RegistryFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Whether a captured log line holds every one of the texts.
    bool logged(const std::vector<std::string>& textS) const;

    std::shared_ptr<std::vector<std::string>> _plogS = std::make_shared<std::vector<std::string>>();
};

// One test on one engine: a scratch database with the schema and the organisation below; the
// statement echo off unless a test turns it on.
//
// Catalogue: product 0 (the framework: roles 1, 2; permissions 1 to 7; role 1 carries 3), product 5
// "Ledger" (permissions 7 denied, 8 granted, 9 denied; role 1 "Clerk" carrying 7 granted and 8
// revoked, role 2 "Auditor" carrying 9 granted; parameters of profile "office"), product 6 "Mail"
// (permission 1, role 1). Profiles "office" (default) and "home"; host "pc1" lists "home" and
// "travel". Customers "acme" and "globex"; platform "LNX"; library 1 (the test plug-in, parameter
// "opt"); domains "acme.local" (library 1, user tools) and "globex.local" (library 1); users
// acme.local/jdoe, acme.local/asmith, globex.local/bwong; teams 10 "Ops" and 11 "Dev" of acme, 12
// "Sales" of globex; jdoe in 10 and 11, asmith in 10, bwong in 12; team 10 holds role 1 of product
// 5; the outside group "ops-group" of acme.local maps onto team 10.
class EngineFixture : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& engine() const { return GetParam(); }
    VeskDal::DalDatabase& db() { return *_pdb; }

    void initialize(OstrelData::Factory::Mode mode) { Factory::initialize(_pscratch->connectString(), mode); }

    // Inserts one row with bound values.
    void insert(const std::string& strTable, const Fields& fieldS);
    // Inserts one row that breaks the schema's references (a customer, product or library that does
    // not exist), as a database without those checks could hold.
    void insertUnchecked(const std::string& strTable, const Fields& fieldS);
    // Deletes the rows matching every field, even when others still refer to them.
    void removeUnchecked(const std::string& strTable, const Fields& fieldS);
    // The number of rows matching every field.
    int count(const std::string& strTable, const Fields& fieldS = Fields());
    // Runs administration text (no values in it).
    void script(const std::string& strSql) { _pdb->executeScript(strSql); }
    // A table name quoted for the engine's administration text.
    std::string quoted(const std::string& strName) const
    {
        const char* pszQuote = engine() == "mysql" ? "`" : "\"";
        return pszQuote + strName + pszQuote;
    }

    // Makes the current authenticated user one who holds (or lacks) the product-maintenance
    // permission; registers product 0 when it is not.
    void actAsMaintainer(bool bGranted);

    // Whether a captured log line holds every one of the texts.
    bool logged(const std::vector<std::string>& textS) const;
    int loggedCount(const std::string& strText) const;

    std::unique_ptr<OstrelTest::ScratchDatabase> _pscratch;
    std::unique_ptr<VeskDal::DalDatabase> _pdb;
    std::shared_ptr<std::vector<std::string>> _plogS = std::make_shared<std::vector<std::string>>();

private:
    void uncheckReferences(const std::string& strTable);
    void seed();
    bool _bUnchecked = false;
};

// The path of the test plug-in.
std::string testPlugin();

} // namespace OstrelDbTest

#endif
