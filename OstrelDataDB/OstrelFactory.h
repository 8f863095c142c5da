#ifndef OSTRELDATADB_OSTRELFACTORY_H
#define OSTRELDATADB_OSTRELFACTORY_H

#include <string>
#include <vector>

#include "Corvel/Version.h"
#include "OstrelData/Factory.h"
#include "OstrelData/PRStatus.h"
#include "OstrelDataDB/Export.h"
#include "VeskDal/DalDatabase.h"

namespace OstrelDataDB {

// Who holds a grant: every user of a customer, the members of a team, or one user. Make one with
// customer(), team() or user(); only the fields of its level are looked at.
struct Grantee {
    enum Level { levelCustomer, levelTeam, levelUser };

    Level level = levelCustomer;
    std::string strCustomer;
    int nTeam = 0;
    std::string strDomain;
    std::string strUserId;

    static Grantee customer(const std::string& strCustomer)
    {
        Grantee grantee;
        grantee.strCustomer = strCustomer;
        return grantee;
    }
    static Grantee team(int nTeam)
    {
        Grantee grantee;
        grantee.level = levelTeam;
        grantee.nTeam = nTeam;
        return grantee;
    }
    static Grantee user(const std::string& strDomain, const std::string& strUserId)
    {
        Grantee grantee;
        grantee.level = levelUser;
        grantee.strDomain = strDomain;
        grantee.strUserId = strUserId;
        return grantee;
    }
};

// One grant of a grantee: a role (bRole) or a permission, by number, of a product, with its status.
struct Grant {
    int nProduct = 0;
    bool bRole = true;
    int nNumber = 0;
    OstrelData::PRStatus status = OstrelData::PRStatus::statusGranted;
};

// The server-side source of the model: fills the registries of OstrelData::Factory from the
// relational schema, computes a user's grants from the customer, team and user grant tables, and
// writes customers, domains and the product catalogue back. Static members only; never
// instantiated.
//
// Like its base, nothing here is locked: loading must finish before other threads read the
// registries, and a program that changes them from several threads serialises those calls.
// Every unit of work takes its own pooled connection (OstrelDal::connection()).
//
// Failures of the database. The SQL library's failures (VeskDal::DalDatabaseException,
// VeskDal::SqlException) are converted once, where an operation meets them, into an
// OstrelData::Exception of the code and remote flag below. The legend is the database's own
// explanation (for a statement the library refused, the explanation of the library's code): it is
// for the operator's log, and the daemon replies to its clients without it.
//
//   operation                                        code  remote  after the failure
//   initialize, reinitialize                          100  yes     what was loaded stays
//   authorize: no connection                         1021  yes     nothing merged
//   authorize: one grant table                          -  -       logged (layer 1), next table
//   create/update/deleteCustomer, ...Domain          1021  yes     registries as before
//   grants, writeGrant, removeGrant                  1021  yes     nothing written
//   catalogue: insert..., add..., delete...          1021  no      rolled back; anything that is
//                                                                  not an OstrelData::Exception
//                                                                  gives -1 "unknown"
//   nextProduct, nextRole, nextPermission,              -  -       not converted: the SQL library's
//   profiles(strHost), productFromRow                              exception reaches the caller
//
// A plug-in's failure to read its own tables while its library loads leaves that library unloaded;
// parameters that cannot be read leave a library without them.
class OSTRELDATADB_API Factory : public OstrelData::Factory {
public:
    using Row = VeskDal::DalDatabase::Row;
    using Result = VeskDal::DalDatabase::Result;

    Factory() = delete;

    // ---- loading

    // Connects the pool and loads what the mode selects. Rows of platforms, libraries, shared
    // objects, domains and teams that fail are logged (layer 5) and skipped; any other model
    // failure ends the load. A database failure throws 100 (remote). What was loaded before a
    // failure stays.
    static void initialize(const std::string& strConnect, Mode mode);
    // Reloads products, profiles, customers, domains, teams, the team map and (modeAdmin) users
    // with the mode of the last initialize; plug-ins, libraries and authenticators stay loaded.
    // Entries that are still in the database keep their address, so pointers and references into
    // the registries (sessions, authenticators, users' teams) stay valid. Failures as initialize.
    static void reinitialize();
    // The version of OstrelData::Factory.
    static Corvel::Version version();

    // Row conversions. A row lacking a column a conversion needs yields that conversion's fallback
    // object (nothing stored) or throws 2001, as noted; an integer column holding anything but an
    // integer throws 2001 naming the column.
    //
    // The registry product of a product row, with its parameters, permissions and roles
    // (fallback: product -1). Database failures propagate, the registry product then as it was.
    static OstrelData::Product& productFromRow(Row& row);
    // The registry profile of a profile row; throws 2001 "Profile column missing.".
    static OstrelData::Profile& profileFromRow(Row& row);
    // The profile of a row, stored nowhere; throws 2001 "Profile column missing.".
    static OstrelData::Profile profileFromRowNI(Row& row);
    // The registry customer (fallback: empty customer).
    static OstrelData::Customer& customerFromRow(Row& row);
    // The registry domain with its customer and authenticator. Throws 2001 for a missing
    // customer, description or domain column, 102 for an unregistered customer, and what
    // authenticatorFromDomainRow throws (the domain then stays registered without authenticator
    // and out of its customer's map).
    static OstrelData::Domain& domainFromRow(Row& row);
    // A new authenticator from the loaded library of a domain row, registered under the domain
    // name. Throws 2001 for a missing column, 5003 with the library text when the library is not
    // loaded or makes no authenticator, 103 when the domain is not registered, 5012 when the
    // plug-in fails with anything but an OstrelData::Exception (which passes through).
    static OstrelData::Authenticator& authenticatorFromDomainRow(Row& row);
    // The registry team with copies of the products granted to it; throws 2001 "Customer/Team",
    // 102 for an unregistered customer.
    static OstrelData::Team& teamFromRow(Row& row);
    // One outside-group mapping; a row missing a column is skipped.
    static void teamMapFromRow(Row& row);
    // The user filed in his registered domain's user map, with copies of his registered teams
    // (fallback: empty user, also for an unregistered domain).
    static OstrelData::User& userFromRow(Row& row);
    // The registry platform (fallback: empty platform).
    static OstrelData::Platform& platformFromRow(Row& row);
    // The registry shared object, entered in its library template; throws 106 for an unknown
    // platform, 107 for an unknown library (fallback: empty shared object).
    static OstrelData::SharedObject& sharedObjectFromRow(Row& row);
    // The registry library template with its parameters (fallback: default library). A template
    // registered already is updated in place, so a library it has loaded stays open.
    static OstrelData::AuthenticationLibrary& authenticationLibraryFromRow(Row& row);

    // Result conversions.
    //
    // The product's roles (starting from those it has) with the role permissions of the
    // "ProductRolePermission" rows that name a role of the map and a permission of the product.
    static OstrelData::RoleMap roleMapFromResult(const OstrelData::Product& product, const Result& result);
    // The permissions of the rows (rows without a permission number are skipped).
    static OstrelData::PermissionMap permissionMapFromResult(const OstrelData::Product& product,
                                                             const Result& result);
    // Merges role (permission) grant rows into the product map, copying a registry product in when
    // a row names one the map lacks. A row that fails (105 for a product the registry lacks) is
    // logged as a warning (layer 1) and skipped.
    static void productRoleMapFromResult(OstrelData::ProductMap& productS, const Result& result);
    static void productPermissionMapFromResult(OstrelData::ProductMap& productS, const Result& result);
    // Parameter name to value ("Param", "Value"); throws 2001 with the missing column's name.
    static OstrelData::InitMap initMapFromResult(const Result& result);
    // Profile to parameter name to value ("Profile", "Param", "Value"); throws 2001 likewise.
    static OstrelData::InitMapMap initMapMapFromResult(const Result& result);

    // ---- authorisation

    // Merges into user.products() the grants of his customer, his teams (in number order) and
    // himself, then folds granted roles' permissions in. The map is not cleared first. A database
    // failure in one step is logged (layer 1) and the next step runs. Throws 503/502 when the user
    // has no domain or the domain no customer, 1021 (remote) when no connection can be had.
    static void authorize(OstrelData::User& user);
    // The base factory's authentication, then authorize on the new current authenticated user;
    // returns a copy of him. Failures of the base pass through.
    static OstrelData::AuthenticatedUser authenticate(const OstrelData::User& user,
                                                      const OstrelData::AuthenticationToken& authToken,
                                                      const OstrelData::Profile& profile);
    // The base factory's user completion, then authorize.
    static void user(OstrelData::User& userF, bool bRecurse);
    static void persistSession(OstrelData::AuthenticatedUser& userP);
    static OstrelData::AuthenticatedUser& retrieveSession(const OstrelData::Session& session);
    // The registry.
    static OstrelData::ProfileMap& profiles();
    // The profiles listed for the host, overlaid by every registry profile. Database failures
    // propagate unconverted; throws 2001 "Profile column missing.".
    static OstrelData::ProfileMap profiles(const std::string& strHost);

    // ---- administration: customers and domains (no rights check, no transaction)
    //
    // One statement each; a database failure throws 1021 with its explanation (remote), and an
    // update that finds no row throws 102 (customer) or 103 (domain), both leaving the registries
    // as they were. The registries follow the statement: a registered customer keeps its links to
    // domains and teams, a registered domain keeps its authenticator unless the one given has its
    // own, and points at the registered customer of its customer's id.

    static void createCustomer(OstrelData::Customer& customer);
    static void updateCustomer(OstrelData::Customer& customer);
    static void deleteCustomer(OstrelData::Customer& customer);
    static void createDomain(OstrelData::Domain& domain);
    static void updateDomain(OstrelData::Domain& domain);
    static void deleteDomain(OstrelData::Domain& domain);

    // ---- administration: grants (no rights check, no transaction)
    //
    // A grant lives in the customer, team or user table of roles or permissions. The registries
    // are not touched: users see a change when they are next authorised. Database failures throw
    // 1021 (remote), nothing written; a level outside the enumeration throws 10.

    // The grantee's grants: roles, then permissions, each by product and number. A stored number
    // that is no integer throws 2001 naming the column.
    static std::vector<Grant> grants(const Grantee& grantee);
    // Gives the grantee the grant with its status: the status of the grantee's row of that role
    // (permission) is updated when there is one, else the row is inserted.
    static void writeGrant(const Grantee& grantee, const Grant& grant);
    // Removes the grantee's row of that role (permission), whatever its status; false when there
    // was none.
    static bool removeGrant(const Grantee& grantee, const Grant& grant);

    // ---- administration: the product catalogue
    //
    // Each operation first requires the current authenticated user to hold the product-maintenance
    // permission (else 6666 "unauthorized action", nothing written), then runs all its statements,
    // those of the rows it writes or removes with it included, in one transaction of its own
    // (rolled back on any failure, so nothing of the operation stays: 1021 with the database's
    // explanation, -1 "unknown" for anything unexpected; OstrelData::Exceptions pass unchanged).
    // The registries are not touched.

    // Writes the product row, then replaces the product's parameters and writes its permissions
    // and roles.
    static void insertProduct(const OstrelData::Product& product);
    static void insertProductParam(const OstrelData::Product& product, const std::string& strProfile,
                                   const std::string& strName, const std::string& strValue);
    // Updates the permission (role) row when there is one, else inserts it.
    static void insertPermission(const OstrelData::Permission& permission, const OstrelData::Product& product);
    // Also replaces the role's role-permission rows with those of role.permissions().
    static void insertRole(const OstrelData::Role& role, const OstrelData::Product& product);
    static void insertRolePermission(const OstrelData::Permission& permission, const OstrelData::Role& role,
                                     const OstrelData::Product& product);
    // As insertProduct, insertRole and insertPermission for a number that must be new: the rows
    // are inserted, never updated, so that of two writers who took the same number from next…()
    // the second fails (1021, nothing written) rather than overwrite the first.
    static void addProduct(const OstrelData::Product& product);
    static void addRole(const OstrelData::Role& role, const OstrelData::Product& product);
    static void addPermission(const OstrelData::Permission& permission, const OstrelData::Product& product);
    // The deletes throw 1021 "Did not select exactly one row" when the row they address is not
    // exactly one. With bCascade what depends on the row goes first (see each).
    //
    // Cascade: the product's permissions and roles (each cascading), then its parameters.
    static void deleteProduct(const OstrelData::Product& product, bool bCascade);
    // Cascade: every parameter of the product, any count; otherwise exactly the one named.
    static void deleteProductParam(const OstrelData::Product& product, const std::string& strProfile,
                                   const std::string& strName, bool bCascade);
    // Cascade: the permission's role-permission rows in the roles of its product that hold it.
    static void deletePermission(const OstrelData::Permission& permission, bool bCascade);
    // Cascade: the role's role-permission rows and its team grants (customer and user grants stay).
    static void deleteRole(const OstrelData::Role& role, bool bCascade);
    // Cascade: every permission row of the permission's role, any count; otherwise exactly that one.
    static void deleteRolePermission(const OstrelData::Permission& permission, bool bCascade);

    // One more than the highest product (role, permission of the product) number; 1 when there is
    // none. Not reserved. Database failures propagate unconverted.
    static int nextProduct();
    static int nextRole(OstrelData::Product& product);
    static int nextPermission(OstrelData::Product& product);

private:
    static Mode _mode;
};

} // namespace OstrelDataDB

#endif
