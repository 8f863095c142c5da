// Products with their roles, permissions and role permissions; grants at customer, team and user
// level; profiles with their hosts and product parameters.

#include <iostream>
#include <string>
#include <vector>

#include "Admin.h"
#include "OstrelDal/OstrelDal.h"
#include "OstrelDataDB/OstrelFactory.h"

namespace OstrelAdmin {

namespace {

using DBFactory = OstrelDataDB::Factory;
using OstrelData::Factory;
using VeskDal::SqlInteger;
using VeskDal::SqlText;
using Result = VeskDal::DalDatabase::Result;
using Row = VeskDal::DalDatabase::Row;

OstrelData::PRStatus statusOption(const Context& context, const char* pszDefault)
{
    return statusArgument(context.args.value("status", pszDefault));
}

// Adds under --number, or under the next free number. That number is not reserved: another
// administrator may add under it first, and add() then fails on the key without overwriting
// theirs; the number after is tried then, a few times.
template <class TNext, class TAdd>
int addNumbered(const Context& context, TNext next, TAdd add)
{
    if (context.args.has("number")) {
        const int nNumber = integerArgument(context.args.value("number"), "--number");
        add(nNumber);
        return nNumber;
    }
    for (int nAttempt = 1;; ++nAttempt) {
        const int nNumber = next();
        try {
            add(nNumber);
            return nNumber;
        } catch (const OstrelData::Exception& e) {
            if (nAttempt == 3 || e.errorCode() != OstrelData::nNAX_DATABASE) throw;
            // The add's own failure is the one to report, not one of asking again.
            bool bTaken = false;
            try {
                bTaken = next() != nNumber;
            } catch (...) {
            }
            if (!bTaken) throw;
        }
    }
}

// ---- products

void listProducts(Context& context)
{
    for (const auto& entry : Factory::products())
        context.out() << entry.first << "\t" << entry.second.description() << "\t" << entry.second.roles().size()
                      << " roles\t" << entry.second.permissions().size() << " permissions\n";
}

void showProduct(Context& context)
{
    const OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    context.out() << "product: " << product.product() << " " << product.description() << "\n";
    for (const auto& role : product.roles()) {
        context.out() << "role:       " << role.first << " " << statusText(role.second.status()) << " "
                      << role.second.description() << "\n";
        for (const auto& carried : role.second.permissions())
            context.out() << "  carries:  " << carried.first << " " << statusText(carried.second.status()) << "\n";
    }
    for (const auto& permission : product.permissions())
        context.out() << "permission: " << permission.first << " " << statusText(permission.second.status()) << " "
                      << permission.second.description() << "\n";
    for (const auto& profile : product.productInit())
        for (const auto& param : profile.second)
            context.out() << "param:      " << profile.first << " " << param.first << "=" << param.second << "\n";
}

void addProduct(Context& context)
{
    actAsOperator();
    const int nProduct = addNumbered(context, DBFactory::nextProduct, [&](int nNumber) {
        if (Factory::products().count(nNumber) != 0) throw Failure("product " + std::to_string(nNumber) + " exists");
        DBFactory::addProduct(OstrelData::Product(nNumber, OstrelData::InitMapMap(), word(context, 0)));
    });
    context.out() << nProduct << "\n";
}

void changeProduct(Context& context)
{
    actAsOperator();
    OstrelData::Product product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    product.setDescription(word(context, 1));
    DBFactory::insertProduct(product);
}

void removeProduct(Context& context)
{
    actAsOperator();
    DBFactory::deleteProduct(registeredProduct(integerArgument(word(context, 0), "the product number")),
                             context.args.has("cascade"));
}

// ---- roles

void listRoles(Context& context)
{
    const OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    for (const auto& role : product.roles()) {
        std::string strCarried;
        for (const auto& carried : role.second.permissions())
            strCarried += (strCarried.empty() ? "" : ",") + std::to_string(carried.first);
        context.out() << role.first << "\t" << statusText(role.second.status()) << "\t" << role.second.description()
                      << "\t" << strCarried << "\n";
    }
}

void addRole(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    const int nRole = addNumbered(
        context, [&] { return DBFactory::nextRole(product); },
        [&](int nNumber) {
            if (product.roles().count(nNumber) != 0) throw Failure("role " + std::to_string(nNumber) + " exists");
            DBFactory::addRole(OstrelData::Role(product, nNumber, word(context, 1), statusOption(context, "denied")),
                               product);
        });
    context.out() << nRole << "\n";
}

void changeRole(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    OstrelData::Role role = registeredRole(product, integerArgument(word(context, 1), "the role number"));
    if (context.args.has("description")) role.setDescription(context.args.value("description"));
    if (context.args.has("status")) role.setStatus(statusOption(context, "denied"));
    DBFactory::insertRole(role, product);
}

void removeRole(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    DBFactory::deleteRole(registeredRole(product, integerArgument(word(context, 1), "the role number")),
                          context.args.has("cascade"));
}

// ---- permissions

void listPermissions(Context& context)
{
    const OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    for (const auto& permission : product.permissions())
        context.out() << permission.first << "\t" << statusText(permission.second.status()) << "\t"
                      << permission.second.description() << "\n";
}

void addPermission(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    const int nPermission = addNumbered(
        context, [&] { return DBFactory::nextPermission(product); },
        [&](int nNumber) {
            if (product.permissions().count(nNumber) != 0)
                throw Failure("permission " + std::to_string(nNumber) + " exists");
            DBFactory::addPermission(
                OstrelData::Permission(product, nNumber, word(context, 1), statusOption(context, "denied")), product);
        });
    context.out() << nPermission << "\n";
}

void changePermission(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    OstrelData::Permission permission =
        registeredPermission(product, integerArgument(word(context, 1), "the permission number"));
    if (context.args.has("description")) permission.setDescription(context.args.value("description"));
    if (context.args.has("status")) permission.setStatus(statusOption(context, "denied"));
    DBFactory::insertPermission(permission, product);
}

void removePermission(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    DBFactory::deletePermission(registeredPermission(product, integerArgument(word(context, 1), "the permission number")),
                                context.args.has("cascade"));
}

// ---- role permissions

void listRolePermissions(Context& context)
{
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    const OstrelData::Role& role = registeredRole(product, integerArgument(word(context, 1), "the role number"));
    for (const auto& carried : role.permissions())
        context.out() << carried.first << "\t" << statusText(carried.second.status()) << "\t"
                      << carried.second.description() << "\n";
}

void addRolePermission(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    OstrelData::Role& role = registeredRole(product, integerArgument(word(context, 1), "the role number"));
    const OstrelData::Permission& permission =
        registeredPermission(product, integerArgument(word(context, 2), "the permission number"));
    if (role.permissions().count(permission.permission()) != 0)
        throw Failure("role " + word(context, 1) + " carries permission " + word(context, 2) + " already");
    OstrelData::Permission carried(role, permission.permission(), permission.description(),
                                   statusOption(context, "granted"));
    DBFactory::insertRolePermission(carried, role, product);
}

void removeRolePermission(Context& context)
{
    actAsOperator();
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 0), "the product number"));
    OstrelData::Role& role = registeredRole(product, integerArgument(word(context, 1), "the role number"));
    OstrelData::PermissionMap::iterator it = role.permissions().find(integerArgument(word(context, 2), "the permission number"));
    if (it == role.permissions().end())
        throw Failure("role " + word(context, 1) + " does not carry permission " + word(context, 2));
    DBFactory::deleteRolePermission(it->second, false);
}

// ---- grants

struct GranteeArgument {
    const char* pszLevel;
    OstrelDataDB::Grantee grantee;
    std::string strShown;
};

// The grantee of "customer ID", "team N" or "user DOMAIN/USER" at the start of the words.
GranteeArgument granteeOf(const Context& context)
{
    const std::string& strLevel = word(context, 0);
    const std::string& strWho = word(context, 1);
    if (strLevel == "customer") {
        registeredCustomer(strWho);
        return GranteeArgument{"customer", OstrelDataDB::Grantee::customer(strWho), strWho};
    }
    if (strLevel == "team") {
        int nTeam = integerArgument(strWho, "the team number");
        registeredTeam(nTeam);
        return GranteeArgument{"team", OstrelDataDB::Grantee::team(nTeam), strWho};
    }
    if (strLevel == "user") {
        OstrelData::User user = userArgument(strWho);
        return GranteeArgument{"user", OstrelDataDB::Grantee::user(user.domain().domain(), user.userId()),
                               user.domain().domain() + "/" + user.userId()};
    }
    throw UsageError("grants are given to a 'customer ID', a 'team N' or a 'user DOMAIN/USER', not a '" + strLevel +
                     "'");
}

bool isRoleKind(const std::string& strKind)
{
    if (strKind == "role") return true;
    if (strKind == "permission") return false;
    throw UsageError("a grant is of a 'role' or a 'permission', not a '" + strKind + "'");
}

void listGrants(Context& context)
{
    GranteeArgument who = granteeOf(context);
    for (const OstrelDataDB::Grant& grant : DBFactory::grants(who.grantee))
        context.out() << who.pszLevel << "\t" << who.strShown << "\t" << grant.nProduct << "\t"
                      << (grant.bRole ? "role" : "permission") << "\t" << grant.nNumber << "\t"
                      << statusText(grant.status) << "\n";
}

void writeGrant(Context& context, bool bRemove)
{
    GranteeArgument who = granteeOf(context);
    OstrelData::Product& product = registeredProduct(integerArgument(word(context, 2), "the product number"));
    OstrelDataDB::Grant grant;
    grant.nProduct = product.product();
    grant.bRole = isRoleKind(word(context, 3));
    grant.nNumber = integerArgument(word(context, 4), grant.bRole ? "the role number" : "the permission number");
    if (grant.bRole)
        registeredRole(product, grant.nNumber);
    else
        registeredPermission(product, grant.nNumber);

    if (bRemove) {
        if (!DBFactory::removeGrant(who.grantee, grant)) throw Failure("no such grant");
        return;
    }
    grant.status = statusOption(context, "granted");
    DBFactory::writeGrant(who.grantee, grant);
}

void addGrant(Context& context)
{
    writeGrant(context, false);
}

void removeGrant(Context& context)
{
    writeGrant(context, true);
}

// ---- profiles

void listProfiles(Context& context)
{
    OstrelDal::ProfileHostQuery hostQuery(OstrelDal::schema());
    Result hostS;
    {
        OstrelDal::Connection connection = OstrelDal::connection();
        hostQuery.select(hostS, connection.db(), VeskDal::SqlQueryBase::full);
    }
    for (const auto& entry : Factory::profiles()) {
        std::string strHosts;
        for (const Row& row : hostS)
            if (columnText(row, "Profile") == entry.first)
                strHosts += (strHosts.empty() ? "" : ",") + columnText(row, "Host");
        context.out() << entry.first << "\t" << (entry.second.isDefault() ? "default" : "-") << "\t" << strHosts
                      << "\n";
    }
}

void addProfile(Context& context)
{
    if (Factory::profiles().count(word(context, 0)) != 0) throw Failure("profile '" + word(context, 0) + "' exists");
    newIdArgument(word(context, 0), "a profile's name");
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& db = connection.db();
    VeskDal::inTransaction(db, [&](VeskDal::DalDatabase&) {
        if (context.args.has("default")) {
            // One default profile: the others lose the flag.
            for (const auto& entry : Factory::profiles()) {
                OstrelDal::ProfileQuery others(OstrelDal::schema());
                others.constrainProfile(SqlText(entry.first));
                others.columnIsDefault().setValue(SqlText("N"));
                others.update(db);
            }
        }
        OstrelDal::ProfileQuery query(OstrelDal::schema());
        query.columnProfile().setValue(SqlText(word(context, 0)));
        query.columnIsDefault().setValue(SqlText(context.args.has("default") ? "Y" : "N"));
        query.insert(db);
    });
}

void removeProfile(Context& context)
{
    if (Factory::profiles().count(word(context, 0)) == 0) throw Failure("no profile '" + word(context, 0) + "'");
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& db = connection.db();
    VeskDal::inTransaction(db, [&](VeskDal::DalDatabase&) {
        OstrelDal::ProfileHostQuery hosts(OstrelDal::schema());
        hosts.constrainProfile(SqlText(word(context, 0)));
        hosts.remove(db);
        OstrelDal::ProductParamQuery params(OstrelDal::schema());
        params.constrainProfile(SqlText(word(context, 0)));
        params.remove(db);
        OstrelDal::ProfileQuery query(OstrelDal::schema());
        query.constrainProfile(SqlText(word(context, 0)));
        query.remove(db);
    });
}

void writeProfileHost(Context& context, bool bRemove)
{
    if (Factory::profiles().count(word(context, 0)) == 0) throw Failure("no profile '" + word(context, 0) + "'");
    OstrelDal::ProfileHostQuery query(OstrelDal::schema());
    OstrelDal::Connection connection = OstrelDal::connection();
    if (bRemove) {
        query.constrainProfile(SqlText(word(context, 0)));
        query.constrainHost(SqlText(word(context, 1)));
        if (query.remove(connection.db()) == 0) throw Failure("no such host of the profile");
        return;
    }
    query.columnProfile().setValue(SqlText(word(context, 0)));
    query.columnHost().setValue(SqlText(word(context, 1)));
    query.insert(connection.db());
}

void addProfileHost(Context& context)
{
    writeProfileHost(context, false);
}

void removeProfileHost(Context& context)
{
    writeProfileHost(context, true);
}

void setProductParam(Context& context)
{
    actAsOperator();
    if (Factory::profiles().count(word(context, 0)) == 0) throw Failure("no profile '" + word(context, 0) + "'");
    const OstrelData::Product& product = registeredProduct(integerArgument(word(context, 1), "the product number"));
    OstrelDal::ProductParamQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    query.constrainProfile(SqlText(word(context, 0)));
    query.constrainParam(SqlText(word(context, 2)));
    query.columnProduct().setValue(SqlInteger(product.product()));
    query.columnProfile().setValue(SqlText(word(context, 0)));
    query.columnParam().setValue(SqlText(word(context, 2)));
    writeParam(query, false, word(context, 3));
}

void removeProductParam(Context& context)
{
    actAsOperator();
    const OstrelData::Product& product = registeredProduct(integerArgument(word(context, 1), "the product number"));
    DBFactory::deleteProductParam(product, word(context, 0), word(context, 2), false);
}

const OptionSpec noOptions{{}, {}};

} // namespace

const std::vector<Command>& catalogueCommands()
{
    static const std::vector<Command> s_commandS = {
        {"product", "list", "product list", "Lists the products: number, description, roles, permissions.\n", 0, 0,
         noOptions, loadModel, listProducts},
        {"product", "show", "product show PRODUCT", "Shows a product's roles, permissions and parameters.\n", 1, 1,
         noOptions, loadModel, showProduct},
        {"product", "add", "product add DESCRIPTION [--number N]",
         "Adds a product, numbered one above the highest unless --number says; prints the number.\n", 1, 1,
         {{"number"}, {}}, loadModel, addProduct},
        {"product", "change", "product change PRODUCT DESCRIPTION", "Changes a product's description.\n", 2, 2,
         noOptions, loadModel, changeProduct},
        {"product", "remove", "product remove PRODUCT [--cascade]",
         "Removes a product; with --cascade its roles, permissions and parameters first.\n", 1, 1, {{}, {"cascade"}},
         loadModel, removeProduct},

        {"role", "list", "role list PRODUCT",
         "Lists a product's roles: number, status, description, permissions carried.\n", 1, 1, noOptions, loadModel,
         listRoles},
        {"role", "add", "role add PRODUCT DESCRIPTION [--number N] [--status granted|denied|revoked]",
         "Adds a role (status denied unless given); prints its number.\n", 2, 2, {{"number", "status"}, {}},
         loadModel, addRole},
        {"role", "change", "role change PRODUCT ROLE [--description TEXT] [--status granted|denied|revoked]",
         "Changes a role.\n", 2, 2, {{"description", "status"}, {}}, loadModel, changeRole},
        {"role", "remove", "role remove PRODUCT ROLE [--cascade]",
         "Removes a role; with --cascade its role permissions and team grants first.\n", 2, 2, {{}, {"cascade"}},
         loadModel, removeRole},

        {"permission", "list", "permission list PRODUCT", "Lists a product's permissions.\n", 1, 1, noOptions,
         loadModel, listPermissions},
        {"permission", "add", "permission add PRODUCT DESCRIPTION [--number N] [--status granted|denied|revoked]",
         "Adds a permission (status denied unless given); prints its number.\n", 2, 2, {{"number", "status"}, {}},
         loadModel, addPermission},
        {"permission", "change",
         "permission change PRODUCT PERMISSION [--description TEXT] [--status granted|denied|revoked]",
         "Changes a permission.\n", 2, 2, {{"description", "status"}, {}}, loadModel, changePermission},
        {"permission", "remove", "permission remove PRODUCT PERMISSION [--cascade]",
         "Removes a permission; with --cascade it leaves the roles that carry it first.\n", 2, 2, {{}, {"cascade"}},
         loadModel, removePermission},

        {"rolepermission", "list", "rolepermission list PRODUCT ROLE", "Lists the permissions a role carries.\n", 2,
         2, noOptions, loadModel, listRolePermissions},
        {"rolepermission", "add", "rolepermission add PRODUCT ROLE PERMISSION [--status granted|denied|revoked]",
         "Has a role carry a permission (granted unless given): whoever holds the role granted\n"
         "holds the permission.\n",
         3, 3, {{"status"}, {}}, loadModel, addRolePermission},
        {"rolepermission", "remove", "rolepermission remove PRODUCT ROLE PERMISSION",
         "Stops a role carrying a permission.\n", 3, 3, noOptions, loadModel, removeRolePermission},

        {"grant", "list", "grant list (customer ID | team N | user DOMAIN/USER)",
         "Lists the grants given at one level: level, grantee, product, role or permission, number,\n"
         "status.\n",
         2, 2, noOptions, loadModel, listGrants},
        {"grant", "add",
         "grant add (customer ID | team N | user DOMAIN/USER) PRODUCT (role | permission) NUMBER "
         "[--status granted|denied|revoked]",
         "Grants (or with --status denies or revokes) a role or permission to every user of a\n"
         "customer, to the members of a team or to one user. A revocation at any level wins.\n"
         "The daemon sees it at the users' next login.\n",
         5, 5, {{"status"}, {}}, loadModel, addGrant},
        {"grant", "remove", "grant remove (customer ID | team N | user DOMAIN/USER) PRODUCT (role | permission) NUMBER",
         "Removes a grant.\n", 5, 5, noOptions, loadModel, removeGrant},

        {"profile", "list", "profile list", "Lists the profiles: name, default flag, hosts.\n", 0, 0, noOptions,
         loadModel, listProfiles},
        {"profile", "add", "profile add NAME [--default]",
         "Adds a profile; --default makes it the one default profile.\n", 1, 1, {{}, {"default"}}, loadModel,
         addProfile},
        {"profile", "remove", "profile remove NAME", "Removes a profile with its hosts and parameters.\n", 1, 1,
         noOptions, loadModel, removeProfile},
        {"profile", "host-add", "profile host-add NAME HOST", "Offers a profile to a host.\n", 2, 2, noOptions,
         loadModel, addProfileHost},
        {"profile", "host-remove", "profile host-remove NAME HOST", "Stops offering a profile to a host.\n", 2, 2,
         noOptions, loadModel, removeProfileHost},
        {"profile", "param-set", "profile param-set NAME PRODUCT PARAM VALUE",
         "Sets a product's initialisation parameter in a profile.\n", 4, 4, noOptions, loadModel, setProductParam},
        {"profile", "param-remove", "profile param-remove NAME PRODUCT PARAM",
         "Removes a product's initialisation parameter from a profile.\n", 3, 3, noOptions, loadModel,
         removeProductParam},
    };
    return s_commandS;
}

} // namespace OstrelAdmin
