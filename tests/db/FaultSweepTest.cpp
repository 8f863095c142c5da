// Every write of the factory, its reload and its authorisation with the Nth statement (begin,
// execute, query or commit) failing, for every N the operation reaches: the caller gets the
// tabled code, no row changed, the registries are as before, no connection stays taken, and the
// same operation then succeeds. SQLite only: the fault comes from the handle, not the engine.

#include <functional>
#include <sstream>

#include "DbFactoryFixture.h"
#include "OstrelDal/PoolSeam.h"
#include "harness/WatchedDatabase.h"

namespace OstrelDbTest {
namespace {

using namespace OstrelData;
using OstrelDataDB::Grant;
using OstrelDataDB::Grantee;

// What a failure at any statement of the operation gives; nCode 0: the operation logs the failure
// and goes on (authorisation, one grant table at a time).
struct Operation {
    const char* pszName;
    int nCode;
    bool bRemote;
    std::function<void()> run;
};

const Product& ledger()
{
    return Factory::products().at(5);
}

std::string renderedProducts(const ProductMap& productS)
{
    std::ostringstream out;
    for (const auto& entry : productS) {
        const Product& product = entry.second;
        out << "product " << entry.first << " " << product.description() << " params "
            << product.productInit().size() << "\n";
        for (const auto& permission : product.permissions())
            out << "  permission " << permission.first << " " << permission.second.description() << " "
                << static_cast<int>(static_cast<PRStatus::PRStatusRaw>(permission.second.status())) << "\n";
        for (const auto& role : product.roles()) {
            out << "  role " << role.first << " " << role.second.description() << ":";
            for (const auto& permission : role.second.permissions())
                out << " " << permission.first << "/"
                    << static_cast<int>(static_cast<PRStatus::PRStatusRaw>(permission.second.status()));
            out << "\n";
        }
    }
    return out.str();
}

// The registries as far as an operation of the table could change them.
std::string renderedRegistries()
{
    std::ostringstream out;
    out << renderedProducts(Factory::products());
    for (const auto& entry : Factory::profiles())
        out << "profile " << entry.first << "\n";
    for (const auto& entry : Factory::customers()) {
        out << "customer " << entry.first << " " << entry.second.name() << ":";
        for (const auto& domain : entry.second.domains())
            out << " " << domain.first << (domain.second == &Factory::domains().at(domain.first) ? "" : "(stale)");
        out << "\n";
    }
    for (const auto& entry : Factory::domains())
        out << "domain " << entry.first << " " << entry.second.description() << " of "
            << entry.second.customer()->customer() << (entry.second.hasAuthenticator() ? " with authenticator" : "")
            << "\n";
    for (const auto& entry : Factory::teams())
        out << "team " << entry.first << " " << entry.second.name() << " of " << entry.second.customer().customer()
            << "\n";
    out << "team map " << Factory::aliens().size() << "/" << Factory::raliens().size() << "\n";
    return out.str();
}

class FaultSweep : public EngineFixture {
protected:
    // The fixture's database and a loaded model, as every run of an operation starts from.
    void fresh()
    {
        TearDown();
        SetUp();
        insert("Customer", {{"Customer", "spare"}, {"Name", "Spare"}});
        insert("Domain", {{"Domain", "spare.local"}, {"Description", "Spare"}, {"Customer", "acme"},
                          {"AuthenticationLibrary", 1}, {"UserTools", "N"}});
        initialize(Factory::modeSimple);
        actAsMaintainer(true);
    }

    // Runs the operation for every N it reaches.
    void sweep(const Operation& operation)
    {
        SCOPED_TRACE(operation.pszName);
        fresh();
        _pool.watch().failAt(0);
        operation.run();
        const int nStatements = _pool.watch().counted();
        EXPECT_GT(nStatements, 0);
        for (int nFail = 1; nFail <= nStatements; ++nFail) {
            SCOPED_TRACE("failing statement " + std::to_string(nFail) + " of " + std::to_string(nStatements));
            fresh();
            const std::string strRows = OstrelTest::sqliteRows(db());
            const std::string strRegistries = renderedRegistries();
            _pool.watch().failAt(nFail);
            try {
                operation.run();
                EXPECT_EQ(0, operation.nCode) << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(operation.nCode, e.errorCode()) << e;
                EXPECT_EQ(operation.bRemote, e.remote()) << e;
            } catch (const std::exception& e) {
                ADD_FAILURE() << "escaped: " << e.what();
            }
            _pool.watch().failAt(0);
            if (operation.nCode == 0) {
                EXPECT_TRUE(logged({"injected failure"}));
            }
            EXPECT_EQ(strRows, OstrelTest::sqliteRows(db()));
            EXPECT_EQ(strRegistries, renderedRegistries());
            for (const OstrelDal::OstrelDB* pentry : OstrelDal::poolEntries())
                EXPECT_FALSE(pentry->inUse());
            EXPECT_NO_THROW(operation.run());
        }
    }

    OstrelTest::WatchPool _pool;
};

TEST_P(FaultSweep, EveryStatementOfEveryWriteMayFail)
{
    const int nDb = nNAX_DATABASE;
    const std::vector<Operation> operationS = {
        {"createCustomer", nDb, true, [] { Customer customer("initech", "Initech"); Factory::createCustomer(customer); }},
        {"updateCustomer", nDb, true, [] { Customer customer("acme", "Acme plc"); Factory::updateCustomer(customer); }},
        {"deleteCustomer", nDb, true, [] { Factory::deleteCustomer(Factory::customers().at("spare")); }},
        {"createDomain", nDb, true,
         [] {
             Domain domain(Factory::customers().at("globex"), "new.local");
             domain.setDescription("New");
             Factory::createDomain(domain);
         }},
        {"updateDomain", nDb, true,
         [] {
             Domain domain(Factory::domains().at("globex.local"));
             domain.setDescription("Renamed");
             Factory::updateDomain(domain);
         }},
        {"deleteDomain", nDb, true, [] { Factory::deleteDomain(Factory::domains().at("spare.local")); }},
        {"writeGrant", nDb, true,
         [] { Factory::writeGrant(Grantee::user("acme.local", "jdoe"), Grant{5, true, 2, PRStatus::statusGranted}); }},
        {"removeGrant", nDb, true, [] { Factory::removeGrant(Grantee::team(10), Grant{5, true, 1}); }},
        {"insertProduct", nDb, false,
         [] {
             Product wiki(9, InitMapMap{{"office", InitMap{{"theme", "dark"}, {"font", "serif"}}}}, "Wiki");
             wiki.permissions().emplace(1, Permission(wiki, 1, "view", PRStatus(PRStatus::statusDenied)));
             wiki.permissions().emplace(2, Permission(wiki, 2, "edit", PRStatus(PRStatus::statusDenied)));
             Role reader(wiki, 1, "Reader", PRStatus(PRStatus::statusDenied));
             reader.permissions().emplace(1, Permission(reader, 1, "view", PRStatus(PRStatus::statusGranted)));
             wiki.roles().emplace(1, reader);
             Factory::insertProduct(wiki);
         }},
        {"insertProduct (existing)", nDb, false, [] { Factory::insertProduct(ledger()); }},
        {"insertProductParam", nDb, false, [] { Factory::insertProductParam(ledger(), "home", "k", "v"); }},
        {"insertPermission", nDb, false,
         [] { Factory::insertPermission(Permission(ledger(), 10, "new", PRStatus(PRStatus::statusDenied)), ledger()); }},
        {"insertRole", nDb, false,
         [] {
             Role clerk(ledger().roles().at(1));
             clerk.setDescription("Senior clerk");
             clerk.permissions().emplace(9, Permission(clerk, 9, "audit", PRStatus(PRStatus::statusRevoked)));
             Factory::insertRole(clerk, ledger());
         }},
        {"insertRolePermission", nDb, false,
         [] { Factory::insertRolePermission(ledger().permissions().at(9), ledger().roles().at(1), ledger()); }},
        {"deleteProduct", nDb, false, [] { Factory::deleteProduct(ledger(), true); }},
        {"deleteProductParam", nDb, false, [] { Factory::deleteProductParam(ledger(), "office", "url", false); }},
        {"deletePermission", nDb, false, [] { Factory::deletePermission(ledger().permissions().at(7), true); }},
        {"deleteRole", nDb, false, [] { Factory::deleteRole(ledger().roles().at(1), true); }},
        {"deleteRolePermission", nDb, false,
         [] { Factory::deleteRolePermission(ledger().roles().at(1).permissions().at(7), false); }},
        {"reinitialize", nNAX_ALIENEXCEPTION, true, [] { Factory::reinitialize(); }},
        {"authorize", 0, false,
         [] {
             User user(Factory::domains().at("acme.local"), "jdoe", "", "", "");
             Factory::authorize(user);
         }},
    };
    for (const Operation& operation : operationS)
        sweep(operation);
}

INSTANTIATE_TEST_SUITE_P(Engines, FaultSweep, ::testing::Values(std::string("sqlite")), OstrelTest::engineTestName);

} // namespace
} // namespace OstrelDbTest
