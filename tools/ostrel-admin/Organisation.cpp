// Customers, domains, users, teams and their members, plug-in libraries and parameters.

#include <iostream>
#include <map>
#include <string>

#include "Admin.h"
#include "OstrelData/AccountState.h"
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

// Runs one statement of a query class on a pooled connection.
template <class TQuery>
int select(TQuery& query, Result& result)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    return query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
}
template <class TQuery>
int update(TQuery& query)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    return query.update(connection.db());
}
template <class TQuery>
int insert(TQuery& query)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    return query.insert(connection.db());
}
template <class TQuery>
int remove(TQuery& query)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    return query.remove(connection.db());
}

// ---- customers

void listCustomers(Context& context)
{
    for (const auto& entry : Factory::customers())
        context.out() << entry.first << "\t" << entry.second.name() << "\n";
}

void addCustomer(Context& context)
{
    if (Factory::customers().count(word(context, 0)) != 0) throw Failure("customer '" + word(context, 0) + "' exists");
    OstrelData::Customer customer(newIdArgument(word(context, 0), "a customer's id"), word(context, 1));
    DBFactory::createCustomer(customer);
}

void changeCustomer(Context& context)
{
    OstrelData::Customer customer = registeredCustomer(word(context, 0));
    customer.setName(word(context, 1));
    DBFactory::updateCustomer(customer);
}

void removeCustomer(Context& context)
{
    OstrelData::Customer customer = registeredCustomer(word(context, 0));
    DBFactory::deleteCustomer(customer);
}

// ---- domains

// The --library a domain is to use: a library the database knows (checked before anything is
// written, so that a domain is never left pointing at none).
int domainLibraryArgument(const Context& context)
{
    const int nLibrary =
        integerArgument(context.args.value("library", std::to_string(nSqlPasswordLibrary)), "--library");
    if (Factory::authenticationLibraryTemplates().count(nLibrary) == 0)
        throw Failure("no library " + std::to_string(nLibrary) + " (see library list)");
    return nLibrary;
}

// The library and user-tools columns, which the factory's domain operations leave alone.
void writeDomainLibrary(const Context& context, const std::string& strDomain, bool bCreating)
{
    if (!bCreating && !context.args.has("library") && !context.args.has("user-tools")) return;
    OstrelDal::DomainQuery query(OstrelDal::schema());
    query.constrainDomain(SqlText(strDomain));
    if (bCreating || context.args.has("library"))
        query.columnAuthenticationLibrary().setValue(SqlInteger(domainLibraryArgument(context)));
    if (bCreating || context.args.has("user-tools"))
        query.columnUserTools().setValue(
            SqlText(yesNoArgument(context.args.value("user-tools", "yes"), "--user-tools") ? "Y" : "N"));
    update(query);
}

void listDomains(Context& context)
{
    for (const auto& entry : Factory::domains()) {
        const OstrelData::Domain& domain = entry.second;
        OstrelData::AuthenticatorPtrMap::const_iterator it = Factory::authenticators().find(entry.first);
        std::string strAuthenticator = it == Factory::authenticators().end() || it->second == nullptr
                                           ? "no authenticator"
                                           : "library " + std::to_string(it->second->authenticationLibrary());
        context.out() << entry.first << "\t" << domain.customer()->customer() << "\t" << domain.description() << "\t"
                      << strAuthenticator << "\n";
    }
}

void addDomain(Context& context)
{
    if (Factory::domains().count(word(context, 0)) != 0) throw Failure("domain '" + word(context, 0) + "' exists");
    // Checked before anything is written, so a bad value leaves no half-made domain.
    newDomainArgument(word(context, 0));
    domainLibraryArgument(context);
    yesNoArgument(context.args.value("user-tools", "yes"), "--user-tools");
    OstrelData::Domain domain(registeredCustomer(word(context, 1)), word(context, 0));
    domain.setDescription(context.args.value("description"));
    DBFactory::createDomain(domain);
    writeDomainLibrary(context, domain.domain(), true);
}

void changeDomain(Context& context)
{
    OstrelData::Domain domain = registeredDomain(word(context, 0));
    if (context.args.has("library")) domainLibraryArgument(context);
    if (context.args.has("user-tools")) yesNoArgument(context.args.value("user-tools"), "--user-tools");
    if (context.args.has("description")) {
        domain.setDescription(context.args.value("description"));
        DBFactory::updateDomain(domain);
    }
    writeDomainLibrary(context, domain.domain(), false);
}

void removeDomain(Context& context)
{
    const OstrelData::Domain& domain = registeredDomain(word(context, 0));
    // Its parameters and the domain in one transaction: a domain that still has users or team maps
    // is refused by the database, and keeps its parameters.
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& db = connection.db();
    VeskDal::inTransaction(db, [&](VeskDal::DalDatabase&) {
        OstrelDal::AuthenticatorParamQuery params(OstrelDal::schema());
        params.constrainDomain(SqlText(domain.domain()));
        params.remove(db);
        OstrelDal::DomainQuery query(OstrelDal::schema());
        query.constrainDomain(SqlText(domain.domain()));
        query.remove(db);
    });
}

// ---- users

// The lock state of a domain's accounts, as its authenticator tells it.
OstrelData::AccountControl& accountControlOf(const OstrelData::Domain& domain)
{
    auto* pcontrol = dynamic_cast<OstrelData::AccountControl*>(&authenticatorOf(domain));
    if (pcontrol == nullptr)
        throw Failure("the authenticator of domain '" + domain.domain() + "' keeps no lock state");
    return *pcontrol;
}

// The user's lock state in words; empty when his authenticator keeps none.
std::string lockStateText(const OstrelData::Domain& domain, const std::string& strUserId)
{
    auto* pcontrol = dynamic_cast<OstrelData::AccountControl*>(&authenticatorOf(domain));
    if (pcontrol == nullptr) return std::string();
    const OstrelData::AccountControl::State state = pcontrol->accountState(strUserId);
    std::string strState = state.lock == OstrelData::AccountControl::lockNone            ? "active"
                           : state.lock == OstrelData::AccountControl::lockAfterFailures ? "locked after failed logins"
                                                                                         : "locked";
    if (state.nFailedLogins != 0) strState += ", " + std::to_string(state.nFailedLogins) + " failed logins";
    return strState;
}

void listUsers(Context& context)
{
    OstrelData::Domain& domain = registeredDomain(word(context, 0));
    OstrelData::UserMap userS;
    if (context.args.words().size() > 1)
        authenticatorOf(domain).findUsers(userS, word(context, 1));
    else
        authenticatorOf(domain).users(userS);
    for (const auto& entry : userS)
        context.out() << entry.first.first << "/" << entry.first.second << "\t" << entry.second.name() << "\t"
                      << entry.second.contact() << "\t" << lockStateText(domain, entry.first.second) << "\n";
}

void showUser(Context& context)
{
    OstrelData::User user = userArgument(word(context, 0));
    DBFactory::user(user, true);
    const OstrelData::User& shown = user;
    context.out() << "user:    " << shown.domain().domain() << "/" << shown.userId() << "\n"
                  << "name:    " << shown.name() << "\n"
                  << "contact: " << shown.contact() << "\n"
                  << "state:   " << lockStateText(shown.domain(), shown.userId()) << "\n";
    for (const auto& team : shown.teams())
        context.out() << "team:    " << team.first << " " << team.second.name() << "\n";
    for (const auto& product : shown.products()) {
        for (const auto& role : product.second.roles())
            context.out() << "role:    " << product.first << ":" << role.first << " " << statusText(role.second.status())
                          << " " << role.second.description() << "\n";
        for (const auto& permission : product.second.permissions())
            context.out() << "permission: " << product.first << ":" << permission.first << " "
                          << statusText(permission.second.status()) << " " << permission.second.description() << "\n";
    }
}

// The new password read (as the command line says) into the user, leaving no other copy of it.
void takeNewPassword(const Context& context, OstrelData::User& user)
{
    std::string strPassword = readNewPassword(context, word(context, 0));
    user.setAuthenticationToken(strPassword);
    OstrelData::wipePassword(strPassword);
}

void addUser(Context& context)
{
    OstrelData::User user = userArgument(word(context, 0));
    user.setName(context.args.value("name"));
    user.setContact(context.args.value("contact"));
    if (!context.args.has("no-password")) takeNewPassword(context, user);
    authenticatorOf(user.domain());
    user.domain().createUser(user);
}

void changeUser(Context& context)
{
    OstrelData::User user = userArgument(word(context, 0));
    OstrelData::Authenticator& authenticator = authenticatorOf(user.domain());
    authenticator.user(user, false);
    if (context.args.has("name")) user.setName(context.args.value("name"));
    if (context.args.has("contact")) user.setContact(context.args.value("contact"));
    if (context.args.has("password") || context.args.has("password-stdin")) takeNewPassword(context, user);
    authenticator.updateUser(user);
}

void removeUser(Context& context)
{
    OstrelData::User user = userArgument(word(context, 0));
    authenticatorOf(user.domain());
    user.domain().deleteUser(user);
}

void lockUser(Context& context)
{
    OstrelData::User user = userArgument(word(context, 0));
    accountControlOf(user.domain()).lock(user.userId());
}

void unlockUser(Context& context)
{
    OstrelData::User user = userArgument(word(context, 0));
    accountControlOf(user.domain()).unlock(user.userId());
}

// ---- teams and members

void listTeams(Context& context)
{
    for (const auto& entry : Factory::teams())
        context.out() << entry.first << "\t" << entry.second.customer().customer() << "\t" << entry.second.name()
                      << "\n";
}

// A client refuses a team without a name in a login's reply, so its members could not log in.
const std::string& teamNameArgument(const std::string& strName)
{
    if (strName.empty()) throw UsageError("a team needs a name");
    return strName;
}

void addTeam(Context& context)
{
    int nTeam = integerArgument(word(context, 0), "the team number");
    if (Factory::teams().count(nTeam) != 0) throw Failure("team " + word(context, 0) + " exists");
    registeredCustomer(word(context, 1));
    OstrelDal::TeamQuery query(OstrelDal::schema());
    query.columnTeam().setValue(SqlInteger(nTeam));
    query.columnCustomer().setValue(SqlText(word(context, 1)));
    query.columnName().setValue(SqlText(teamNameArgument(word(context, 2))));
    insert(query);
}

void changeTeam(Context& context)
{
    int nTeam = integerArgument(word(context, 0), "the team number");
    registeredTeam(nTeam);
    if (!context.args.has("name") && !context.args.has("customer")) throw UsageError("say what to change");
    OstrelDal::TeamQuery query(OstrelDal::schema());
    query.constrainTeam(SqlInteger(nTeam));
    if (context.args.has("name")) query.columnName().setValue(SqlText(teamNameArgument(context.args.value("name"))));
    if (context.args.has("customer")) {
        registeredCustomer(context.args.value("customer"));
        query.columnCustomer().setValue(SqlText(context.args.value("customer")));
    }
    update(query);
}

void removeTeam(Context& context)
{
    int nTeam = integerArgument(word(context, 0), "the team number");
    registeredTeam(nTeam);
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& db = connection.db();
    VeskDal::inTransaction(db, [&](VeskDal::DalDatabase&) {
        if (context.args.has("cascade")) {
            OstrelDal::UserTeamQuery members(OstrelDal::schema());
            members.constrainTeam(SqlInteger(nTeam));
            members.remove(db);
            OstrelDal::TeamProductRoleQuery roles(OstrelDal::schema());
            roles.constrainTeam(SqlInteger(nTeam));
            roles.remove(db);
            OstrelDal::TeamProductPermissionQuery permissions(OstrelDal::schema());
            permissions.constrainTeam(SqlInteger(nTeam));
            permissions.remove(db);
            OstrelDal::TeamMapQuery maps(OstrelDal::schema());
            maps.constrainTeam(SqlInteger(nTeam));
            maps.remove(db);
        }
        OstrelDal::TeamQuery query(OstrelDal::schema());
        query.constrainTeam(SqlInteger(nTeam));
        query.remove(db);
    });
}

void listMembers(Context& context)
{
    OstrelData::Team team = registeredTeam(integerArgument(word(context, 0), "the team number"));
    Factory::team(team, true);
    const OstrelData::Team& shown = team;
    for (const auto& entry : shown.members())
        context.out() << entry.first.first << "/" << entry.first.second << "\t" << entry.second.name() << "\t"
                      << (entry.second.isLead() ? "lead" : "member") << "\n";
}

void addMember(Context& context)
{
    OstrelData::Team team = registeredTeam(integerArgument(word(context, 0), "the team number"));
    OstrelData::User user = userArgument(word(context, 1));
    OstrelData::Authenticator& authenticator = authenticatorOf(user.domain());
    authenticator.user(user, false);
    OstrelData::TeamMember member(user, context.args.has("lead"));
    authenticator.createTeamMember(team, member);
}

void removeMember(Context& context)
{
    OstrelData::Team team = registeredTeam(integerArgument(word(context, 0), "the team number"));
    OstrelData::User user = userArgument(word(context, 1));
    authenticatorOf(user.domain()).deleteTeamMember(team, user);
}

// ---- the team map: groups of a domain's outside directory standing for teams

// A group's name or DN as the directory would have it: text of the column's size, no control
// bytes, no spaces at the ends (which the directory would not match).
void checkGroupName(const std::string& strName, const char* pszWhat)
{
    if (strName.empty()) throw UsageError(std::string(pszWhat) + " is empty");
    if (strName.size() > 128) throw UsageError(std::string(pszWhat) + " is longer than 128 bytes");
    for (char ch : strName)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            throw UsageError(std::string(pszWhat) + " holds a control character");
    if (strName.front() == ' ' || strName.back() == ' ')
        throw UsageError(std::string(pszWhat) + " begins or ends with a space");
}

void listTeamMap(Context& context)
{
    const std::string strDomain = context.args.words().size() > 0 ? word(context, 0) : std::string();
    if (!strDomain.empty()) registeredDomain(strDomain);
    for (const auto& entry : Factory::xteams()) {
        const OstrelData::XTeam& xteam = entry.second;
        if (!strDomain.empty() && xteam.domain() != strDomain) continue;
        context.out() << xteam.team() << "\t" << xteam.domain() << "\t" << xteam.alienGroup() << "\t"
                      << xteam.alienGroupLeadGroup() << "\n";
    }
}

void addTeamMap(Context& context)
{
    int nTeam = integerArgument(word(context, 0), "the team number");
    registeredTeam(nTeam);
    const std::string& strDomain = word(context, 1);
    registeredDomain(strDomain);
    const std::string strLeadGroup = context.args.value("lead-group");
    checkGroupName(word(context, 2), "the group");
    if (context.args.has("lead-group")) checkGroupName(strLeadGroup, "the lead group");
    for (const auto& entry : Factory::xteams())
        if (entry.second.team() == nTeam && entry.second.domain() == strDomain)
            throw Failure("team " + word(context, 0) + " has a group of " + strDomain + " already ('" +
                          entry.second.alienGroup() + "'): remove it first");
    OstrelDal::TeamMapQuery query(OstrelDal::schema());
    query.columnDomain().setValue(SqlText(strDomain));
    query.columnAlienGroup().setValue(SqlText(word(context, 2)));
    // Written even when empty: a row without it would not be loaded.
    query.columnAlienGroupLeadGroup().setValue(SqlText(strLeadGroup));
    query.columnTeam().setValue(SqlInteger(nTeam));
    insert(query);
}

void removeTeamMap(Context& context)
{
    int nTeam = integerArgument(word(context, 0), "the team number");
    OstrelDal::TeamMapQuery query(OstrelDal::schema());
    query.constrainDomain(SqlText(word(context, 1)));
    query.constrainTeam(SqlInteger(nTeam));
    if (remove(query) == 0) throw Failure("team " + word(context, 0) + " has no group of " + word(context, 1));
}

// ---- libraries and parameters

void listLibraries(Context& context)
{
    for (const auto& entry : Factory::authenticationLibraryTemplates()) {
        const OstrelData::AuthenticationLibrary& library = entry.second;
        std::string strFile;
        try {
            strFile = library.sharedObject("").sharedObject();
        } catch (const OstrelData::Exception&) {
            strFile = "(no file for LNX)";
        }
        context.out() << entry.first << "\t" << library.description() << "\t"
                      << static_cast<char>(library.authenticationTokenDisposition()) << "\t" << strFile << "\t"
                      << (Factory::authenticationLibraries().count(entry.first) ? "loaded" : "not loaded") << "\n";
    }
}

// A second plug-in (or another build of one) beside the SQL password plug-in of init: its library
// row and its file for platform LNX, in one transaction.
void addLibrary(Context& context)
{
    const int nLibrary = integerArgument(word(context, 0), "the library number");
    if (Factory::authenticationLibraryTemplates().count(nLibrary) != 0)
        throw Failure("library " + std::to_string(nLibrary) + " exists");
    const std::string strFile = context.args.value("file");
    if (strFile.empty()) throw UsageError("library add needs --file PATH, the plug-in's shared object");
    const std::string strDisposition = context.args.value("disposition", "P");
    if (strDisposition.size() != 1 || std::string("CHNPX").find(strDisposition) == std::string::npos)
        throw UsageError("--disposition is one of C, H, N, P, X, not '" + strDisposition + "'");
    const bool bUserTools = yesNoArgument(context.args.value("user-tools", "no"), "--user-tools");
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& db = connection.db();
    VeskDal::inTransaction(db, [&](VeskDal::DalDatabase&) {
        OstrelDal::AuthenticationLibraryQuery library(OstrelDal::schema());
        library.columnAuthenticationLibrary().setValue(SqlInteger(nLibrary));
        library.columnDescription().setValue(SqlText(word(context, 1)));
        library.columnAuthenticationTokenDisposition().setValue(SqlText(strDisposition));
        library.columnUserTools().setValue(SqlText(bUserTools ? "Y" : "N"));
        library.insert(db);
        OstrelDal::SharedObjectQuery sharedObject(OstrelDal::schema());
        sharedObject.columnPlatform().setValue(SqlText("LNX"));
        sharedObject.columnAuthenticationLibrary().setValue(SqlInteger(nLibrary));
        sharedObject.columnSharedObject().setValue(SqlText(strFile));
        sharedObject.insert(db);
    });
}

// "library N" or "domain NAME": the parameter table, as the first two words say.
bool isLibraryOwner(const Context& context)
{
    const std::string& strOwner = word(context, 0);
    if (strOwner == "library") return true;
    if (strOwner == "domain") return false;
    throw UsageError("parameters belong to a 'library N' or a 'domain NAME', not a '" + strOwner + "'");
}

void listParams(Context& context)
{
    Result result;
    // An owner that is not there is said to be missing, not listed as one without parameters.
    if (isLibraryOwner(context)) {
        const int nLibrary = integerArgument(word(context, 1), "the library number");
        if (Factory::authenticationLibraryTemplates().count(nLibrary) == 0)
            throw Failure("no library " + std::to_string(nLibrary));
        OstrelDal::AuthenticationLibraryParamQuery query(OstrelDal::schema());
        query.constrainAuthenticationLibrary(SqlInteger(nLibrary));
        select(query, result);
    } else {
        registeredDomain(word(context, 1));
        OstrelDal::AuthenticatorParamQuery query(OstrelDal::schema());
        query.constrainDomain(SqlText(word(context, 1)));
        select(query, result);
    }
    for (const Row& row : result)
        context.out() << columnText(row, "Param") << "\t" << columnText(row, "Value") << "\n";
}

void setOrRemoveParam(Context& context, bool bRemove)
{
    const std::string& strName = word(context, 2);
    std::string strValue;
    if (!bRemove) {
        const bool bFromInput = context.args.has("value-stdin");
        if (bFromInput == (context.args.words().size() > 3))
            throw UsageError("give the value either as a word or, with --value-stdin, on standard input");
        strValue = bFromInput ? readValueFromInput() : word(context, 3);
    }
    if (isLibraryOwner(context)) {
        int nLibrary = integerArgument(word(context, 1), "the library number");
        if (Factory::authenticationLibraryTemplates().count(nLibrary) == 0)
            throw Failure("no library " + std::to_string(nLibrary));
        OstrelDal::AuthenticationLibraryParamQuery query(OstrelDal::schema());
        query.constrainAuthenticationLibrary(SqlInteger(nLibrary));
        query.constrainParam(SqlText(strName));
        query.columnAuthenticationLibrary().setValue(SqlInteger(nLibrary));
        query.columnParam().setValue(SqlText(strName));
        writeParam(query, bRemove, strValue);
    } else {
        registeredDomain(word(context, 1));
        OstrelDal::AuthenticatorParamQuery query(OstrelDal::schema());
        query.constrainDomain(SqlText(word(context, 1)));
        query.constrainParam(SqlText(strName));
        query.columnDomain().setValue(SqlText(word(context, 1)));
        query.columnParam().setValue(SqlText(strName));
        writeParam(query, bRemove, strValue);
    }
}

void setParam(Context& context)
{
    setOrRemoveParam(context, false);
}

void removeParam(Context& context)
{
    setOrRemoveParam(context, true);
}

const OptionSpec noOptions{{}, {}};

} // namespace

const std::vector<Command>& organisationCommands()
{
    static const std::vector<Command> s_commandS = {
        {"customer", "list", "customer list", "Lists the customers: id and name.\n", 0, 0, noOptions, loadModel,
         listCustomers},
        {"customer", "add", "customer add ID NAME", "Adds a customer.\n", 2, 2, noOptions, loadModel, addCustomer},
        {"customer", "change", "customer change ID NAME", "Renames a customer.\n", 2, 2, noOptions, loadModel,
         changeCustomer},
        {"customer", "remove", "customer remove ID",
         "Removes a customer (the database refuses while domains or teams refer to it).\n", 1, 1, noOptions,
         loadModel, removeCustomer},

        {"domain", "list", "domain list", "Lists the domains: name, customer, description, authenticator.\n", 0, 0,
         noOptions, loadModel, listDomains},
        {"domain", "add", "domain add DOMAIN CUSTOMER [--description TEXT] [--library N] [--user-tools yes|no]",
         "Adds a domain of a customer, served by authentication library N (default 1, the SQL\n"
         "password plug-in) with user administration (default yes). The daemon serves it after\n"
         "its next reload.\n",
         2, 2, {{"description", "library", "user-tools"}, {}}, loadModel, addDomain},
        {"domain", "change", "domain change DOMAIN [--description TEXT] [--library N] [--user-tools yes|no]",
         "Changes a domain's description, library or user administration.\n", 1, 1,
         {{"description", "library", "user-tools"}, {}}, loadModel, changeDomain},
        {"domain", "remove", "domain remove DOMAIN",
         "Removes a domain and its authenticator parameters (the database refuses while users\n"
         "or team maps refer to it).\n",
         1, 1, noOptions, loadModel, removeDomain},

        {"user", "list", "user list DOMAIN [TEXT]",
         "Lists the users of a domain (those whose id or name holds TEXT, which may be a LIKE\n"
         "pattern with % and _): DOMAIN/USER, name, contact, lock state.\n",
         1, 2, noOptions, loadModel, listUsers},
        {"user", "show", "user show DOMAIN/USER",
         "Shows a user with his teams and the roles and permissions he holds.\n", 1, 1, noOptions, loadModel,
         showUser},
        {"user", "add", "user add DOMAIN/USER [--name NAME] [--contact TEXT] [--password-stdin | --no-password]",
         "Adds a user through the domain's authenticator. The password is asked twice on the\n"
         "terminal without echo, or read as the first line of standard input with --password-stdin;\n"
         "it is stored as an Argon2id hash.\n",
         1, 1, {{"name", "contact"}, {"password-stdin", "no-password"}}, loadModel, addUser},
        {"user", "change", "user change DOMAIN/USER [--name NAME] [--contact TEXT] [--password | --password-stdin]",
         "Changes a user's name or contact, or sets a new password (--password asks on the\n"
         "terminal).\n",
         1, 1, {{"name", "contact"}, {"password", "password-stdin"}}, loadModel, changeUser},
        {"user", "remove", "user remove DOMAIN/USER",
         "Removes a user with his team memberships and his own grants.\n", 1, 1, noOptions, loadModel, removeUser},
        {"user", "lock", "user lock DOMAIN/USER", "Locks an account until 'user unlock'.\n", 1, 1, noOptions,
         loadModel, lockUser},
        {"user", "unlock", "user unlock DOMAIN/USER",
         "Unlocks an account (locked by hand or after failed logins) and clears its failure count.\n", 1, 1,
         noOptions, loadModel, unlockUser},

        {"team", "list", "team list", "Lists the teams: number, customer, name.\n", 0, 0, noOptions, loadModel,
         listTeams},
        {"team", "add", "team add NUMBER CUSTOMER NAME", "Adds a team of a customer.\n", 3, 3, noOptions, loadModel,
         addTeam},
        {"team", "change", "team change NUMBER [--name NAME] [--customer ID]", "Renames a team or moves it.\n", 1, 1,
         {{"name", "customer"}, {}}, loadModel, changeTeam},
        {"team", "remove", "team remove NUMBER [--cascade]",
         "Removes a team; with --cascade its memberships, grants and outside-group maps first.\n", 1, 1,
         {{}, {"cascade"}}, loadModel, removeTeam},

        {"member", "list", "member list TEAM", "Lists the members of a team: DOMAIN/USER, name, lead or member.\n", 1,
         1, noOptions, loadModel, listMembers},
        {"member", "add", "member add TEAM DOMAIN/USER [--lead]", "Makes a user a member (or lead) of a team.\n", 2,
         2, {{}, {"lead"}}, loadModel, addMember},
        {"member", "remove", "member remove TEAM DOMAIN/USER", "Takes a user out of a team.\n", 2, 2, noOptions,
         loadModel, removeMember},

        {"teammap", "list", "teammap list [DOMAIN]",
         "Lists which group of a domain's directory stands for which team: team, domain, group,\n"
         "lead group.\n",
         0, 1, noOptions, loadModel, listTeamMap},
        {"teammap", "add", "teammap add TEAM DOMAIN GROUP [--lead-group GROUP]",
         "Makes the members of a group of the domain's directory (its name, or its DN) members of the\n"
         "team, and those of the lead group its leads; one group per team and domain.\n",
         3, 3, {{"lead-group"}, {}}, loadModel, addTeamMap},
        {"teammap", "remove", "teammap remove TEAM DOMAIN", "Ends the team's map from the domain's directory.\n", 2,
         2, noOptions, loadModel, removeTeamMap},

        {"library", "list", "library list",
         "Lists the authentication libraries: number, description, token disposition, file, whether\n"
         "it loaded.\n",
         0, 0, noOptions, loadModel, listLibraries},
        {"library", "add", "library add NUMBER DESCRIPTION --file PATH [--disposition C|H|N|P|X] [--user-tools yes|no]",
         "Registers another authentication plug-in as library NUMBER with its shared object for\n"
         "platform LNX (the LDAP plug-in: --file .../libOstrelAuthLdap.so). Domains use it with\n"
         "'domain add ... --library NUMBER'; its settings are parameters of the library or domain.\n",
         2, 2, {{"file", "disposition", "user-tools"}, {}}, loadModel, addLibrary},
        {"param", "list", "param list (library N | domain DOMAIN)",
         "Lists the parameters of a library or of a domain's authenticator.\n", 2, 2, noOptions, loadModel,
         listParams},
        {"param", "set", "param set (library N | domain DOMAIN) NAME (VALUE | --value-stdin)",
         "Sets a parameter. The SQL password plug-in reads argon2_opslimit, argon2_memlimit_kib,\n"
         "lockout_threshold and lockout_seconds (a domain's value wins over its library's).\n"
         "  --value-stdin   the value is the first line of standard input: for a secret such as the\n"
         "                  LDAP plug-in's bind_password, which a command line shows to every local user\n",
         3, 4, {{}, {"value-stdin"}}, loadModel, setParam},
        {"param", "remove", "param remove (library N | domain DOMAIN) NAME", "Removes a parameter.\n", 3, 3,
         noOptions, loadModel, removeParam},
    };
    return s_commandS;
}

} // namespace OstrelAdmin
