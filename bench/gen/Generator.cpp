#include "Generator.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "VeskDal/VeskDal.h"

namespace OstrelGen {

namespace {

using Fields = std::vector<std::pair<const char*, VeskDal::SqlValue>>;

VeskDal::SqlInteger integer(int n)
{
    return VeskDal::SqlInteger(n);
}

VeskDal::SqlText text(const std::string& str)
{
    return VeskDal::SqlText(str);
}

// Writes rows with bound values and counts them.
//
// PostgreSQL's change-counter triggers run once per statement, and here every row is a statement:
// a million updates of the one counter row in one transaction, each walking the versions the ones
// before left, grow with the square of the rows. So on PostgreSQL a table's user triggers are off
// while the fill writes it (in its transaction, so a failed fill leaves them on) and the counter is
// moved once at the end. Row triggers elsewhere update the row where it is.
class Writer {
public:
    explicit Writer(VeskDal::DalDatabase& database)
        : _database(database), _bStatementTriggers(database.engine() == "postgresql")
    {
    }

    void row(const char* pszTable, const Fields& fieldS)
    {
        if (_bStatementTriggers && _quietTableS.insert(pszTable).second)
            _database.executeScript(std::string("ALTER TABLE \"") + pszTable + "\" DISABLE TRIGGER USER");
        const VeskDal::SqlTable table(VeskDal::SqlSchema(), pszTable);
        VeskDal::SqlInsertStatement statement(table);
        for (const auto& field : fieldS)
            statement.addColumn(VeskDal::SqlColumn(table, field.first), field.second);
        _database.execute(statement);
        ++_nRows;
    }

    long rows() const { return _nRows; }

    // Before the commit: the triggers back on, and one change of the model counted.
    void finish()
    {
        for (const std::string& strTable : _quietTableS)
            _database.executeScript("ALTER TABLE \"" + strTable + "\" ENABLE TRIGGER USER");
        if (!_quietTableS.empty())
            _database.executeScript("UPDATE \"ModelChange\" SET \"Counter\" = \"Counter\" + 1 WHERE \"Id\" = 1");
    }

private:
    VeskDal::DalDatabase& _database;
    const bool _bStatementTriggers;
    std::set<std::string> _quietTableS;
    long _nRows = 0;
};

std::string customerName(int nCustomer)
{
    return "customer" + std::to_string(nCustomer);
}

// Grant statuses vary so that merging has revocations and denials to combine.
int grantStatus(int n, int nRevokeEvery)
{
    return n % nRevokeEvery == 0 ? -1 : 1;
}

// User u is of domain u % D. Taken domain by domain, the users' rows arrive nearly in the order of
// their keys, which lead with the domain: a million of them then fill the tables' pages in turn.
template <class TVisit>
void forEachUserByDomain(const Size& size, TVisit visit)
{
    for (int nDomain = 0; nDomain < size.nDomains; ++nDomain) {
        for (int u = nDomain; u < size.nUsers; u += size.nDomains)
            visit(u, nDomain);
    }
}

void require(bool bHolds, const char* pszWhat)
{
    if (!bHolds)
        throw std::invalid_argument(pszWhat);
}

} // namespace

std::string domainName(int nDomain)
{
    return "domain" + std::to_string(nDomain) + ".example";
}

std::string userId(int nUser)
{
    return "user" + std::to_string(nUser);
}

Size scaledTo(int nUsers)
{
    const Size base;
    // In proportion to the default organisation's users, rounded, and never below what a
    // smaller shape still needs.
    auto scaled = [nUsers, &base](int nBase, int nLeast) {
        const long long n = (static_cast<long long>(nBase) * nUsers + base.nUsers / 2) / base.nUsers;
        return static_cast<int>(std::max<long long>(n, nLeast));
    };
    Size size = base;
    size.nUsers = nUsers;
    size.nCustomers = scaled(base.nCustomers, 1);
    size.nDomains = scaled(base.nDomains, size.nCustomers);
    size.nTeams = scaled(base.nTeams, size.nCustomers * base.nTeamsPerUser);
    size.nProducts = scaled(base.nProducts, base.nProductsPerTeam);
    return size;
}

void check(const Size& size)
{
    require(size.nCustomers >= 1, "customers must be at least 1");
    require(size.nDomains >= size.nCustomers, "domains must be at least as many as customers");
    require(size.nUsers >= 0, "users must not be negative");
    require(size.nTeams >= size.nCustomers, "teams must be at least as many as customers");
    require(size.nTeamsPerUser >= 0 && size.nTeamsPerUser <= size.nTeams / size.nCustomers,
            "teams per user must not exceed the teams of one customer");
    require(size.nProducts >= 1, "products must be at least 1");
    require(size.nRoles >= 2, "roles must be at least 2");
    require(size.nPermissions >= 2, "permissions must be at least 2");
    require(size.nPermissionsPerRole >= 0 && size.nPermissionsPerRole <= size.nPermissions,
            "permissions per role must not exceed the permissions of a product");
    require(size.nProductsPerTeam >= 0 && size.nProductsPerTeam <= size.nProducts,
            "products per team must not exceed the products");
}

void loadSchema(VeskDal::DalDatabase& database, const std::string& strSchemaFile)
{
    std::ifstream in(strSchemaFile);
    if (!in)
        throw std::runtime_error("cannot read " + strSchemaFile);
    std::string strLine;
    std::string strBlock;
    bool bCode = false;
    while (std::getline(in, strLine)) {
        strBlock += strLine + "\n";
        const size_t nFirst = strLine.find_first_not_of(" \t");
        if (nFirst != std::string::npos && strLine.compare(nFirst, 2, "--") != 0)
            bCode = true;
        const size_t nLast = strLine.find_last_not_of(" \t\r");
        if (nLast != std::string::npos && strLine[nLast] == ';') {
            if (bCode)
                database.executeScript(strBlock);
            strBlock.clear();
            bCode = false;
        }
    }
}

long fill(VeskDal::DalDatabase& database, const Size& size, const std::string& strSharedObject,
          const std::string& strPasswordHash)
{
    check(size);
    Writer w(database);
    // User ids are not in key order within a domain ("user10" before "user2"): a page cache that
    // holds the tables being filled keeps a million users' inserts off the disk until the commit.
    if (database.engine() == "sqlite")
        database.executeScript("PRAGMA cache_size = -1048576");
    database.begin();
    try {
        for (int c = 0; c < size.nCustomers; ++c)
            w.row("Customer", {{"Customer", text(customerName(c))}, {"Name", text("Customer " + std::to_string(c))}});

        w.row("Platform", {{"Platform", text("LNX")}, {"Description", text("Linux")}});
        w.row("AuthenticationLibrary", {{"AuthenticationLibrary", integer(1)}, {"Description", text("Directory")},
                                        {"AuthenticationTokenDisposition", text("P")}, {"UserTools", text("Y")}});
        w.row("SharedObject",
              {{"Platform", text("LNX")}, {"AuthenticationLibrary", integer(1)}, {"SharedObject", text(strSharedObject)}});

        for (int d = 0; d < size.nDomains; ++d)
            w.row("Domain", {{"Domain", text(domainName(d))}, {"Description", text("Domain " + std::to_string(d))},
                             {"Customer", text(customerName(d % size.nCustomers))},
                             {"AuthenticationLibrary", integer(1)}, {"UserTools", text("Y")}});

        for (int t = 0; t < size.nTeams; ++t) {
            const int nCustomer = t % size.nCustomers;
            w.row("Team", {{"Team", integer(t + 1)}, {"Customer", text(customerName(nCustomer))},
                           {"Name", text("Team " + std::to_string(t + 1))}});
            // Domain nCustomer belongs to customer nCustomer.
            w.row("TeamMap", {{"Domain", text(domainName(nCustomer))}, {"AlienGroup", text("group" + std::to_string(t))},
                              {"AlienGroupLeadGroup", text("leads" + std::to_string(t))}, {"Team", integer(t + 1)}});
        }

        // Team t + 1 is the k-th team of customer t % C for k = t / C.
        const int nTeamsOfCustomer = size.nTeams / size.nCustomers;
        forEachUserByDomain(size, [&](int u, int nDomain) {
            const int nCustomer = nDomain % size.nCustomers;
            w.row("User", {{"Domain", text(domainName(nDomain))}, {"UserId", text(userId(u))},
                           {"Name", text("User " + std::to_string(u))}, {"AuthenticationToken", text(strPasswordHash)},
                           {"Contact", text("contact" + std::to_string(u))}});
            const int nBase = (u * 7) % nTeamsOfCustomer;
            for (int i = 0; i < size.nTeamsPerUser; ++i) {
                const int k = (nBase + i) % nTeamsOfCustomer;
                w.row("UserTeam", {{"Domain", text(domainName(nDomain))}, {"UserId", text(userId(u))},
                                   {"Team", integer(nCustomer + k * size.nCustomers + 1)},
                                   {"IsLead", text(i == 0 ? "Y" : "N")}});
            }
        });

        for (int p = 1; p <= size.nProducts; ++p) {
            w.row("Product", {{"Product", integer(p)}, {"Description", text("Product " + std::to_string(p))}});
            for (int n = 1; n <= size.nPermissions; ++n)
                w.row("ProductPermission", {{"Product", integer(p)}, {"Permission", integer(n)},
                                            {"Description", text("Permission " + std::to_string(n))},
                                            {"Status", integer(n % 4 == 0 ? 1 : 0)}});
            for (int r = 1; r <= size.nRoles; ++r) {
                w.row("ProductRole", {{"Product", integer(p)}, {"Role", integer(r)},
                                      {"Description", text("Role " + std::to_string(r))}, {"Status", integer(0)}});
                for (int k = 0; k < size.nPermissionsPerRole; ++k)
                    w.row("ProductRolePermission", {{"Product", integer(p)}, {"Role", integer(r)},
                                                    {"Permission", integer((r - 1 + k) % size.nPermissions + 1)},
                                                    {"Status", integer(k % 5 == 4 ? -1 : 1)}});
            }
        }

        w.row("Profile", {{"Profile", text("standard")}, {"IsDefault", text("Y")}});
        w.row("Profile", {{"Profile", text("mobile")}, {"IsDefault", text("N")}});
        for (int p = 1; p <= size.nProducts; ++p) {
            for (const char* pszProfile : {"standard", "mobile"}) {
                w.row("ProductParam", {{"Profile", text(pszProfile)}, {"Product", integer(p)}, {"Param", text("url")},
                                       {"Value", text("https://product" + std::to_string(p) + ".example")}});
                w.row("ProductParam", {{"Profile", text(pszProfile)}, {"Product", integer(p)},
                                       {"Param", text("timeout")}, {"Value", text("30")}});
            }
        }

        for (int t = 0; t < size.nTeams; ++t) {
            for (int i = 0; i < size.nProductsPerTeam; ++i) {
                const int nProduct = (t * 3 + i) % size.nProducts + 1;
                const int nRole = (t + i) % size.nRoles + 1;
                w.row("TeamProductRole", {{"Team", integer(t + 1)}, {"Product", integer(nProduct)},
                                          {"Role", integer(nRole)}, {"Status", integer(grantStatus(t, 10))}});
                w.row("TeamProductRole", {{"Team", integer(t + 1)}, {"Product", integer(nProduct)},
                                          {"Role", integer(nRole % size.nRoles + 1)}, {"Status", integer(1)}});
                w.row("TeamProductPermission", {{"Team", integer(t + 1)}, {"Product", integer(nProduct)},
                                                {"Permission", integer((t + i) % size.nPermissions + 1)},
                                                {"Status", integer(1)}});
            }
        }

        for (int c = 0; c < size.nCustomers; ++c) {
            const int nProduct = c % size.nProducts + 1;
            w.row("CustomerProductRole", {{"Customer", text(customerName(c))}, {"Product", integer(nProduct)},
                                          {"Role", integer(c % size.nRoles + 1)}, {"Status", integer(1)}});
            w.row("CustomerProductPermission", {{"Customer", text(customerName(c))}, {"Product", integer(nProduct)},
                                                {"Permission", integer(c % size.nPermissions + 1)},
                                                {"Status", integer(1)}});
            w.row("CustomerProductPermission", {{"Customer", text(customerName(c))}, {"Product", integer(nProduct)},
                                                {"Permission", integer((c + 1) % size.nPermissions + 1)},
                                                {"Status", integer(c % 2 == 0 ? 0 : -1)}});
        }

        forEachUserByDomain(size, [&](int u, int nDomain) {
            const std::string strDomain = domainName(nDomain);
            const int nProduct = (u * 13) % size.nProducts + 1;
            w.row("UserProductRole", {{"Domain", text(strDomain)}, {"UserId", text(userId(u))},
                                      {"Product", integer(nProduct)}, {"Role", integer(u % size.nRoles + 1)},
                                      {"Status", integer(grantStatus(u, 10))}});
            w.row("UserProductPermission", {{"Domain", text(strDomain)}, {"UserId", text(userId(u))},
                                            {"Product", integer(nProduct)},
                                            {"Permission", integer(u % size.nPermissions + 1)},
                                            {"Status", integer(u % 7 == 0 ? 0 : 1)}});
        });
        w.finish();
        database.commit();
    } catch (...) {
        if (database.inTransaction())
            database.rollback();
        throw;
    }
    return w.rows();
}

} // namespace OstrelGen
