// Loading the model: every table read through its query class, each row turned into a model object
// and filed in the registries of OstrelData::Factory, with the links between objects resolved.

#include <algorithm>
#include <exception>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "Corvel/EventLogger.h"
#include "OstrelDal/OstrelDal.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "FactorySupport.h"

namespace OstrelDataDB {

using OstrelData::AuthenticationLibrary;
using OstrelData::Authenticator;
using OstrelData::Customer;
using OstrelData::Domain;
using OstrelData::InitMap;
using OstrelData::InitMapMap;
using OstrelData::Permission;
using OstrelData::PermissionMap;
using OstrelData::Platform;
using OstrelData::PRStatus;
using OstrelData::Product;
using OstrelData::Profile;
using OstrelData::Role;
using OstrelData::RoleMap;
using OstrelData::SharedObject;
using OstrelData::Team;
using OstrelData::User;
using OstrelData::XTeam;
using OstrelData::XTeamPtrMap;
using detail::column;
using detail::Result;
using detail::Row;
using detail::columnsOf;
using detail::convertingDatabaseFailures;
using detail::integerOf;

OstrelData::Factory::Mode Factory::_mode = OstrelData::Factory::modeSimple;

namespace {

// Rows that fail while loading are reported to the database layer's log.
constexpr int g_nLoadLayer = Corvel::layerDatabase;

// Runs a full select on a pooled connection of its own, released on return.
template <class TQuery>
void selectAll(TQuery& query, Result& result)
{
    result.clear();
    OstrelDal::Connection connection = OstrelDal::connection();
    query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
}

void logLoadFailure(const OstrelData::Exception& e)
{
    Corvel::EventLogger::theLogger().logError(e.legend(), g_nLoadLayer);
}

// Reads the whole table of TQuery and hands each row to convert, in result order. With
// bLogRowFailures a row whose conversion throws an OstrelData::Exception is logged and skipped.
// prepare sees the whole result first.
template <class TQuery, class TConvert, class TPrepare>
void loadRows(TConvert convert, bool bLogRowFailures, TPrepare prepare)
{
    TQuery query(OstrelDal::schema());
    Result result;
    selectAll(query, result);
    prepare(result);
    for (Row& row : result) {
        if (!bLogRowFailures) {
            convert(row);
            continue;
        }
        try {
            convert(row);
        } catch (const OstrelData::Exception& e) {
            logLoadFailure(e);
        }
    }
}

template <class TQuery, class TConvert>
void loadRows(TConvert convert, bool bLogRowFailures)
{
    loadRows<TQuery>(convert, bLogRowFailures, [](const Result&) {});
}

// ---- reloading in place
//
// A reload must not destroy registry entries (see detail::retireEntry): entries the database still
// holds are overwritten where they are, and entries it no longer holds are retired, so that no
// pointer held outside the registries ever dangles.

template <class TMap>
class ReloadKeys {
public:
    using Key = typename TMap::key_type;

    explicit ReloadKeys(TMap& map) : _map(map) {}

    // Notes that the entry under key is the one this pass stored, when pvalue is that entry.
    template <class TValue>
    void noteStored(const Key& key, const TValue* pvalue)
    {
        typename TMap::const_iterator it = _map.find(key);
        if (it != _map.end() && &it->second == pvalue)
            _seenS.insert(key);
    }
    void noteStored(const Key& key) { _seenS.insert(key); }

    // Takes every entry not stored in this pass out of the registry.
    template <class TRetire>
    void retireOthers(TRetire prepare)
    {
        for (typename TMap::iterator it = _map.begin(); it != _map.end();) {
            typename TMap::iterator itNext = std::next(it);
            if (_seenS.count(it->first) == 0) {
                prepare(it->second);
                detail::retireEntry(_map, it);
            }
            it = itNext;
        }
    }
    void retireOthers()
    {
        retireOthers([](typename TMap::mapped_type&) {});
    }

private:
    TMap& _map;
    std::set<Key> _seenS;
};

// ---- the load steps, shared by initialize and reinitialize (a null ReloadKeys: initialize)

// Loads one keyed registry; on a reload, notes every entry it stored so the others can be retired.
// stored hears of every entry stored; prepare sees the rows first.
template <class TQuery, class TMap, class TEntry, class TKeyOf, class TStored, class TPrepare>
void loadKeyed(ReloadKeys<TMap>* preload, TEntry& (*fromRow)(Row&), TKeyOf keyOf, TStored stored,
               TPrepare prepare)
{
    loadRows<TQuery>(
        [preload, fromRow, keyOf, stored](Row& row) {
            TEntry& entry = fromRow(row);
            stored(keyOf(entry));
            if (preload)
                preload->noteStored(keyOf(entry), &entry);
        },
        false, prepare);
}

template <class TQuery, class TMap, class TEntry, class TKeyOf>
void loadKeyed(ReloadKeys<TMap>* preload, TEntry& (*fromRow)(Row&), TKeyOf keyOf)
{
    using Key = typename TMap::key_type;
    loadKeyed<TQuery>(preload, fromRow, keyOf, [](const Key&) {}, [](const Result&) {});
}

// Makes the catalogue's new entries all at once, empty, in key order, before any is filled: they
// then lie side by side in memory instead of each among its own roles and permissions. Authorising
// a user looks a few products up in a catalogue of thousands and copies them, and finds the path
// to each in a few pages instead of a page per step. A row that fails puts such an entry back as
// it was made here (productFromRow sees it as not new); a load that fails then takes out every
// entry made here that no row filled.
class PlacedProducts {
public:
    void place(const Result& result)
    {
        const OstrelDal::ProductQuery& q = columnsOf<OstrelDal::ProductQuery>();
        const std::string strProduct = q.columnProduct().resultName();
        OstrelData::ProductMap& productS = Factory::products();
        _placedS.reserve(result.size());
        _storedS.reserve(result.size());
        for (const Row& row : result) {
            const VeskDal::SqlValue* pvalProduct = column(row, strProduct);
            if (pvalProduct == nullptr)
                continue;
            int nProduct = 0;
            try {
                nProduct = integerOf(*pvalProduct, q.columnProduct().name());
            } catch (const OstrelData::Exception&) {
                continue;  // its row fails when it is converted
            }
            if (productS.try_emplace(nProduct, nProduct).second)
                _placedS.push_back(nProduct);
        }
    }
    // Cannot fail (room for every row is made first): an entry filled is never taken for one not.
    void stored(int nProduct) { _storedS.push_back(nProduct); }
    void takeOutUnfilled()
    {
        std::sort(_storedS.begin(), _storedS.end());
        for (int nProduct : _placedS) {
            if (!std::binary_search(_storedS.begin(), _storedS.end(), nProduct))
                Factory::products().erase(nProduct);
        }
        _placedS.clear();
    }

private:
    // Each in one block made before the entries, so as not to come between them.
    std::vector<int> _placedS;
    std::vector<int> _storedS;
};

void loadProducts(ReloadKeys<OstrelData::ProductMap>* preload)
{
    // Every authorised user and every team copies catalogue products: a team's copy is never
    // written, and a grant changes only the statuses of a user's, so the copies share one frozen
    // set until they write, and the permissions the roles carry for good. Also what a failed load
    // left.
    auto shareCarried = []() { Product::shareCatalogueWithCopies(Factory::products()); };
    PlacedProducts placed;
    try {
        loadKeyed<OstrelDal::ProductQuery>(
            preload, &Factory::productFromRow, [](const Product& product) { return product.product(); },
            [&placed](int nProduct) { placed.stored(nProduct); },
            [&placed](const Result& result) { placed.place(result); });
    } catch (...) {
        placed.takeOutUnfilled();
        shareCarried();
        throw;
    }
    shareCarried();
}

void loadProfiles(ReloadKeys<OstrelData::ProfileMap>* preload)
{
    loadKeyed<OstrelDal::ProfileQuery>(preload, &Factory::profileFromRow,
                                       [](const Profile& profile) { return profile.profile(); });
}

void loadCustomers(ReloadKeys<OstrelData::CustomerMap>* preload)
{
    loadKeyed<OstrelDal::CustomerQuery>(preload, &Factory::customerFromRow,
                                        [](const Customer& customer) { return customer.customer(); });
}

void loadPlugins(bool bLoadLibraries)
{
    loadRows<OstrelDal::PlatformQuery>([](Row& row) { Factory::platformFromRow(row); }, true);
    loadRows<OstrelDal::AuthenticationLibraryQuery>([](Row& row) { Factory::authenticationLibraryFromRow(row); },
                                                    true);
    loadRows<OstrelDal::SharedObjectQuery>([](Row& row) { Factory::sharedObjectFromRow(row); }, true);
    if (!bLoadLibraries)
        return;
    for (auto& entry : Factory::authenticationLibraryTemplates()) {
        // A plug-in is outside code: whatever it throws is reported and the next one loads.
        try {
            entry.second.load();
        } catch (const VeskDal::DalDatabaseException&) {
            // A plug-in that reads the database and fails leaves its library unloaded.
        } catch (const OstrelData::Exception& e) {
            logLoadFailure(e);
        } catch (const std::exception& e) {
            Corvel::EventLogger::theLogger().logError("Library " + std::to_string(entry.first) + ": " + e.what(),
                                                      g_nLoadLayer);
        } catch (...) {
            Corvel::EventLogger::theLogger().logError("Library " + std::to_string(entry.first) + ": unknown failure",
                                                      g_nLoadLayer);
        }
    }
}

// Steps 1 to 5 of a domain row: the registry domain, not yet with its authenticator.
Domain& fileDomainFromRow(Row& row)
{
    const OstrelDal::DomainQuery& q = columnsOf<OstrelDal::DomainQuery>();
    const VeskDal::SqlValue* pvalCustomer = column(row, q.columnCustomer().resultName());
    if (pvalCustomer == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "Customer column missing.");
    const VeskDal::SqlValue* pvalDescription = column(row, q.columnDescription().resultName());
    if (pvalDescription == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "Description column missing.");
    const std::string strCustomer = pvalCustomer->string();
    OstrelData::CustomerMap::iterator itCustomer = Factory::customers().find(strCustomer);
    if (itCustomer == Factory::customers().end())
        OSTREL_RAISE(OstrelData::nNAX_CUSTOMERNOTFOUND, strCustomer);
    const VeskDal::SqlValue* pvalDomain = column(row, q.columnDomain().resultName());
    if (pvalDomain == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "Domain column missing.");

    Domain domain(itCustomer->second, pvalDomain->string());
    domain.setDescription(pvalDescription->string());
    Domain& entry = Factory::domains()[domain.domain()];
    entry = domain;
    // A replaced domain starts afresh; its user cache is not part of the assigned value.
    entry.users(false).clear();
    return entry;
}

// Steps 6 and 7 of a domain row.
void attachAuthenticator(Domain& domain, Row& row)
{
    Authenticator& authenticator = Factory::authenticatorFromDomainRow(row);
    domain.setAuthenticator(authenticator);
    OstrelData::CustomerMap::iterator itCustomer = Factory::customers().find(domain.customer()->customer());
    if (itCustomer != Factory::customers().end())
        itCustomer->second.domains()[domain.domain()] = &domain;
}

void loadDomains(ReloadKeys<OstrelData::DomainMap>* preload)
{
    loadRows<OstrelDal::DomainQuery>(
        [preload](Row& row) {
            Domain& domain = fileDomainFromRow(row);
            if (preload)
                preload->noteStored(domain.domain());
            attachAuthenticator(domain, row);
        },
        true);
}

void loadTeams(ReloadKeys<OstrelData::TeamMap>* preload)
{
    loadRows<OstrelDal::TeamQuery>(
        [preload](Row& row) {
            Team& team = Factory::teamFromRow(row);
            if (preload)
                preload->noteStored(team.team(), &team);
        },
        true);
}

void loadTeamMap()
{
    loadRows<OstrelDal::TeamMapQuery>([](Row& row) { Factory::teamMapFromRow(row); }, false);
}

// The user of a row filed in his domain, his teams not yet read; null when the row lacks a column
// or names a domain that is not registered.
User* fileUserFromRow(Row& row)
{
    const OstrelDal::UserQuery& q = columnsOf<OstrelDal::UserQuery>();
    const VeskDal::SqlValue* pvalUserId = column(row, q.columnUserId().resultName());
    const VeskDal::SqlValue* pvalName = column(row, q.columnName().resultName());
    const VeskDal::SqlValue* pvalDomain = column(row, q.columnDomain().resultName());
    const VeskDal::SqlValue* pvalToken = column(row, q.columnAuthenticationToken().resultName());
    const VeskDal::SqlValue* pvalContact = column(row, q.columnContact().resultName());
    if (pvalUserId == nullptr || pvalName == nullptr || pvalDomain == nullptr || pvalToken == nullptr ||
        pvalContact == nullptr)
        return nullptr;
    OstrelData::DomainMap::iterator itDomain = Factory::domains().find(pvalDomain->string());
    if (itDomain == Factory::domains().end())
        return nullptr;
    Domain& domain = itDomain->second;
    const User user(domain, pvalUserId->string(), pvalName->string(), pvalToken->string(), pvalContact->string());
    return &domain.users(false).insert_or_assign(user.key(), user).first->second;
}

// A copy of a team shares its products and members until one of the two changes them, so every
// member of a team holds the same product map. A team that is not registered is passed over.
void addTeam(User& user, int nTeam)
{
    const OstrelData::TeamMap& teamS = Factory::teams();
    OstrelData::TeamMap::const_iterator itTeam = teamS.find(nTeam);
    if (itTeam != teamS.end())
        user.teams().insert_or_assign(itTeam->first, itTeam->second);
}

// Domain by domain: a select of its memberships and one of its users, each a range of a primary
// key. A select per user would be a round trip each to a server (a million for a million users),
// and one select of every user would hold all their rows at once.
void loadUsers()
{
    const OstrelDal::UserTeamQuery& qTeam = columnsOf<OstrelDal::UserTeamQuery>();
    const std::string strUserId = qTeam.columnUserId().resultName();
    const std::string strTeam = qTeam.columnTeam().resultName();
    Result result;
    for (const auto& entry : Factory::domains()) {
        const VeskDal::SqlText valDomain(entry.first);
        OstrelDal::UserTeamQuery queryTeam(OstrelDal::schema());
        queryTeam.constrainDomain(valDomain);
        selectAll(queryTeam, result);
        std::unordered_map<std::string, std::vector<int>> teamsOfS;
        for (const Row& row : result) {
            const VeskDal::SqlValue* pvalUserId = column(row, strUserId);
            const VeskDal::SqlValue* pvalTeam = column(row, strTeam);
            if (pvalUserId != nullptr && pvalTeam != nullptr)
                teamsOfS[pvalUserId->string()].push_back(integerOf(*pvalTeam, qTeam.columnTeam().name()));
        }
        OstrelDal::UserQuery query(OstrelDal::schema());
        query.constrainDomain(valDomain);
        selectAll(query, result);
        for (Row& row : result) {
            User* puser = fileUserFromRow(row);
            if (puser == nullptr)
                continue;
            const auto itTeams = teamsOfS.find(puser->userId());
            if (itTeams == teamsOfS.end())
                continue;
            for (int nTeam : itTeams->second)
                addTeam(*puser, nTeam);
        }
    }
}

// The profile column first: every profile conversion needs it.
Profile profileOfRow(const Row& row)
{
    const OstrelDal::ProfileQuery& q = columnsOf<OstrelDal::ProfileQuery>();
    const VeskDal::SqlValue* pvalProfile = column(row, q.columnProfile().resultName());
    if (pvalProfile == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "Profile column missing.");
    const VeskDal::SqlValue* pvalDefault = column(row, q.columnIsDefault().resultName());
    return Profile(pvalProfile->string(), pvalDefault != nullptr && pvalDefault->string() == "Y");
}

} // namespace

// ---- initialize, reinitialize

void Factory::initialize(const std::string& strConnect, Mode mode)
{
    _mode = mode;
    // The database's failures end a load as one failure of the model; what was loaded stays.
    convertingDatabaseFailures(detail::g_ruleLoad, [mode, &strConnect]() {
        OstrelDal::connect(strConnect);
        loadProducts(nullptr);
        loadProfiles(nullptr);
        loadCustomers(nullptr);
        if (mode == modeAuthenticator || mode == modeAll)
            loadPlugins(mode == modeAuthenticator);
        loadDomains(nullptr);
        loadTeams(nullptr);
        loadTeamMap();
        if (mode == modeAdmin)
            loadUsers();
    });
}

void Factory::reinitialize()
{
    convertingDatabaseFailures(detail::g_ruleLoad, []() {
        {
            ReloadKeys<OstrelData::ProductMap> reload(products());
            loadProducts(&reload);
            reload.retireOthers();
        }
        {
            ReloadKeys<OstrelData::ProfileMap> reload(profiles());
            loadProfiles(&reload);
            reload.retireOthers();
        }
        {
            ReloadKeys<OstrelData::CustomerMap> reload(customers());
            loadCustomers(&reload);
            reload.retireOthers();
        }
        {
            ReloadKeys<OstrelData::DomainMap> reload(domains());
            loadDomains(&reload);
            reload.retireOthers([](Domain& domain) { domain.users(false).clear(); });
        }
        {
            ReloadKeys<OstrelData::TeamMap> reload(teams());
            loadTeams(&reload);
            reload.retireOthers();
        }
        // The outside groups are read afresh; a failure puts back those there were.
        const auto alienS = aliens();
        const auto ralienS = raliens();
        aliens().clear();
        raliens().clear();
        try {
            loadTeamMap();
        } catch (...) {
            aliens() = alienS;
            raliens() = ralienS;
            throw;
        }
        if (_mode == modeAdmin)
            loadUsers();
    });
}

Corvel::Version Factory::version()
{
    return OstrelData::Factory::version();
}

// ---- rows of the catalogue and the profiles

Product& Factory::productFromRow(Row& row)
{
    static Product productError;
    const OstrelDal::ProductQuery& q = columnsOf<OstrelDal::ProductQuery>();
    const VeskDal::SqlValue* pvalProduct = column(row, q.columnProduct().resultName());
    if (pvalProduct == nullptr)
        return productError;
    Product product(integerOf(*pvalProduct, q.columnProduct().name()));
    if (const VeskDal::SqlValue* pvalDescription = column(row, q.columnDescription().resultName()))
        product.setDescription(pvalDescription->string());

    Result result;
    OstrelDal::ProductParamQuery queryParam(OstrelDal::schema());
    queryParam.constrainProduct(VeskDal::SqlInteger(product.product()));
    selectAll(queryParam, result);
    InitMapMap initProduct = initMapMapFromResult(result);
    if (!initProduct.empty())
        product.setProductInit(initProduct);

    // The entry is rebuilt in place (its permissions and roles point at it); a failure half-way
    // puts back what it held, or takes out the entry it made, so a failed reload changes nothing.
    OstrelData::ProductMap& productS = products();
    const bool bNew = productS.count(product.product()) == 0;
    Product& entry = productS[product.product()];
    const Product previous = entry;
    try {
        entry = product;

        // Permissions first: role permissions take their descriptions from them.
        OstrelDal::ProductPermissionQuery queryPermission(OstrelDal::schema());
        queryPermission.constrainProduct(VeskDal::SqlInteger(entry.product()));
        selectAll(queryPermission, result);
        entry.permissions() = permissionMapFromResult(entry, result);

        OstrelDal::ProductRoleQuery queryRole(OstrelDal::schema());
        queryRole.constrainProduct(VeskDal::SqlInteger(entry.product()));
        selectAll(queryRole, result);
        entry.roles() = roleMapFromResult(entry, result);
    } catch (...) {
        if (bNew)
            productS.erase(product.product());
        else
            entry = previous;
        throw;
    }
    return entry;
}

PermissionMap Factory::permissionMapFromResult(const Product& product, const Result& result)
{
    const OstrelDal::ProductPermissionQuery& q = columnsOf<OstrelDal::ProductPermissionQuery>();
    const std::string strPermission = q.columnPermission().resultName();
    const std::string strDescription = q.columnDescription().resultName();
    const std::string strStatus = q.columnStatus().resultName();
    PermissionMap permissionS;
    for (const Row& row : result) {
        const VeskDal::SqlValue* pvalPermission = column(row, strPermission);
        if (pvalPermission == nullptr)
            continue;
        Permission permission(product, integerOf(*pvalPermission, q.columnPermission().name()), std::string(),
                              PRStatus(PRStatus::statusDenied));
        if (const VeskDal::SqlValue* pvalDescription = column(row, strDescription))
            permission.setDescription(pvalDescription->string());
        if (const VeskDal::SqlValue* pvalStatus = column(row, strStatus))
            permission.setStatus(PRStatus::fromInt(integerOf(*pvalStatus, q.columnStatus().name())));
        permissionS.insert_or_assign(permission.permission(), permission);
    }
    return permissionS;
}

RoleMap Factory::roleMapFromResult(const Product& product, const Result& result)
{
    RoleMap roleS(product.roles());
    {
        const OstrelDal::ProductRoleQuery& q = columnsOf<OstrelDal::ProductRoleQuery>();
        const std::string strRole = q.columnRole().resultName();
        const std::string strDescription = q.columnDescription().resultName();
        const std::string strStatus = q.columnStatus().resultName();
        for (const Row& row : result) {
            const VeskDal::SqlValue* pvalRole = column(row, strRole);
            if (pvalRole == nullptr)
                continue;
            Role role(product, integerOf(*pvalRole, q.columnRole().name()), std::string(),
                      PRStatus(PRStatus::statusDenied));
            if (const VeskDal::SqlValue* pvalDescription = column(row, strDescription))
                role.setDescription(pvalDescription->string());
            if (const VeskDal::SqlValue* pvalStatus = column(row, strStatus))
                role.setStatus(PRStatus::fromInt(integerOf(*pvalStatus, q.columnStatus().name())));
            roleS.insert_or_assign(role.role(), role);
        }
    }

    OstrelDal::ProductRolePermissionQuery query(OstrelDal::schema());
    query.constrainProduct(VeskDal::SqlInteger(product.product()));
    Result resultRP;
    selectAll(query, resultRP);
    const std::string strRole = query.columnRole().resultName();
    const std::string strPermission = query.columnPermission().resultName();
    const std::string strStatus = query.columnStatus().resultName();
    for (const Row& row : resultRP) {
        int nRole = -1;
        int nPermission = -1;
        PRStatus status(PRStatus::statusDenied);
        if (const VeskDal::SqlValue* pval = column(row, strRole))
            nRole = integerOf(*pval, query.columnRole().name());
        if (const VeskDal::SqlValue* pval = column(row, strPermission))
            nPermission = integerOf(*pval, query.columnPermission().name());
        if (const VeskDal::SqlValue* pval = column(row, strStatus))
            status = PRStatus::fromInt(integerOf(*pval, query.columnStatus().name()));
        if (nRole == -1 || nPermission == -1)
            continue;
        RoleMap::iterator itRole = roleS.find(nRole);
        OstrelData::PermissionMap::const_iterator itPermission = product.permissions().find(nPermission);
        if (itRole == roleS.end() || itPermission == product.permissions().end())
            continue;
        Role& role = itRole->second;
        role.permissions().insert_or_assign(
            nPermission, Permission(role, nPermission, itPermission->second.description(), status));
    }
    return roleS;
}

Profile Factory::profileFromRowNI(Row& row)
{
    return profileOfRow(row);
}

Profile& Factory::profileFromRow(Row& row)
{
    Profile profile = profileOfRow(row);
    Profile& entry = profiles()[profile.profile()];
    entry = profile;
    return entry;
}

InitMap Factory::initMapFromResult(const Result& result)
{
    const OstrelDal::AuthenticationLibraryParamQuery& q = columnsOf<OstrelDal::AuthenticationLibraryParamQuery>();
    const std::string strParam = q.columnParam().resultName();
    const std::string strValue = q.columnValue().resultName();
    InitMap initS;
    for (const Row& row : result) {
        const VeskDal::SqlValue* pvalParam = column(row, strParam);
        if (pvalParam == nullptr)
            OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, q.columnParam().name());
        const VeskDal::SqlValue* pvalValue = column(row, strValue);
        if (pvalValue == nullptr)
            OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, q.columnValue().name());
        initS[pvalParam->string()] = pvalValue->string();
    }
    return initS;
}

InitMapMap Factory::initMapMapFromResult(const Result& result)
{
    const OstrelDal::ProductParamQuery& q = columnsOf<OstrelDal::ProductParamQuery>();
    const std::string strProfile = q.columnProfile().resultName();
    const std::string strParam = q.columnParam().resultName();
    const std::string strValue = q.columnValue().resultName();
    InitMapMap initS;
    for (const Row& row : result) {
        const VeskDal::SqlValue* pvalProfile = column(row, strProfile);
        if (pvalProfile == nullptr)
            OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, q.columnProfile().name());
        const VeskDal::SqlValue* pvalParam = column(row, strParam);
        if (pvalParam == nullptr)
            OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, q.columnParam().name());
        const VeskDal::SqlValue* pvalValue = column(row, strValue);
        if (pvalValue == nullptr)
            OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, q.columnValue().name());
        initS[pvalProfile->string()][pvalParam->string()] = pvalValue->string();
    }
    return initS;
}

// ---- rows of the organisation

Customer& Factory::customerFromRow(Row& row)
{
    static Customer customerError;
    const OstrelDal::CustomerQuery& q = columnsOf<OstrelDal::CustomerQuery>();
    const VeskDal::SqlValue* pvalCustomer = column(row, q.columnCustomer().resultName());
    if (pvalCustomer == nullptr)
        return customerError;
    Customer customer(pvalCustomer->string(), "");
    if (const VeskDal::SqlValue* pvalName = column(row, q.columnName().resultName()))
        customer.setName(pvalName->string());
    Customer& entry = customers()[customer.customer()];
    entry = customer;
    return entry;
}

Domain& Factory::domainFromRow(Row& row)
{
    Domain& domain = fileDomainFromRow(row);
    attachAuthenticator(domain, row);
    return domain;
}

Authenticator& Factory::authenticatorFromDomainRow(Row& row)
{
    static Authenticator* pauthenticator = nullptr;
    const OstrelDal::DomainQuery& q = columnsOf<OstrelDal::DomainQuery>();
    const VeskDal::SqlValue* pvalDomain = column(row, q.columnDomain().resultName());
    const VeskDal::SqlValue* pvalDescription = column(row, q.columnDescription().resultName());
    const VeskDal::SqlValue* pvalLibrary = column(row, q.columnAuthenticationLibrary().resultName());
    // The domain query always selects these; a row without them has nothing to make an
    // authenticator from.
    if (pvalDomain == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "Domain column missing.");
    if (pvalDescription == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "Description column missing.");
    if (pvalLibrary == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "AuthenticationLibrary column missing.");

    const std::string strLibrary = pvalLibrary->string();
    OstrelData::AuthenticationLibraryPtrMap::iterator itLibrary = authenticationLibraries().end();
    try {
        itLibrary = authenticationLibraries().find(pvalLibrary->asInt());
    } catch (const VeskDal::SqlException&) {
        // No library is loaded under a number that is not one.
    }
    if (itLibrary == authenticationLibraries().end() || itLibrary->second == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_LIBRARYNOTLOADED, strLibrary);

    const std::string strDomain = pvalDomain->string();
    OstrelData::DomainMap::iterator itDomain = domains().find(strDomain);
    if (itDomain == domains().end())
        OSTREL_RAISE(OstrelData::nNAX_DOMAINNOTFOUND, strDomain);

    OstrelDal::AuthenticatorParamQuery queryParam(OstrelDal::schema());
    queryParam.constrainDomain(VeskDal::SqlText(strDomain));
    Result result;
    selectAll(queryParam, result);
    const InitMap initAuthenticator = initMapFromResult(result);

    Authenticator* pnew = nullptr;
    try {
        pnew = itLibrary->second->authenticator(itDomain->second, pvalDescription->string(), initAuthenticator);
    } catch (const OstrelData::Exception&) {
        throw;
    } catch (const std::exception& e) {
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATORINITFAILED, strDomain + ": " + e.what());
    }
    if (pnew == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_LIBRARYNOTLOADED, strLibrary);
    if (const VeskDal::SqlValue* pvalUserTools = column(row, q.columnUserTools().resultName()))
        pnew->setUserTools(pvalUserTools->string() == "Y");
    authenticators()[strDomain] = pnew;
    pauthenticator = pnew;
    return *pauthenticator;
}

Team& Factory::teamFromRow(Row& row)
{
    const OstrelDal::TeamQuery& q = columnsOf<OstrelDal::TeamQuery>();
    const VeskDal::SqlValue* pvalTeam = column(row, q.columnTeam().resultName());
    const VeskDal::SqlValue* pvalCustomer = column(row, q.columnCustomer().resultName());
    if (pvalTeam == nullptr || pvalCustomer == nullptr)
        OSTREL_RAISE(OstrelData::nNAX_MISSINGDATA, "Customer/Team");
    const std::string strCustomer = pvalCustomer->string();
    OstrelData::CustomerMap::iterator itCustomer = customers().find(strCustomer);
    if (itCustomer == customers().end())
        OSTREL_RAISE(OstrelData::nNAX_CUSTOMERNOTFOUND, strCustomer);
    Team team(itCustomer->second, integerOf(*pvalTeam, q.columnTeam().name()), "");
    if (const VeskDal::SqlValue* pvalName = column(row, q.columnName().resultName()))
        team.setName(pvalName->string());

    OstrelDal::TeamProductRoleQuery query(OstrelDal::schema());
    query.constrainTeam(VeskDal::SqlInteger(team.team()));
    Result result;
    selectAll(query, result);
    const std::string strProduct = query.columnProduct().resultName();
    OstrelData::ProductMap& productS = team.products();
    for (const Row& rowGrant : result) {
        const VeskDal::SqlValue* pvalProduct = column(rowGrant, strProduct);
        if (pvalProduct == nullptr)
            continue;
        const int nProduct = integerOf(*pvalProduct, query.columnProduct().name());
        if (productS.count(nProduct) != 0)
            continue;
        OstrelData::ProductMap::const_iterator itProduct = products().find(nProduct);
        if (itProduct != products().end())
            productS.emplace(nProduct, itProduct->second);
    }

    Team& entry = teams()[team.team()];
    entry = team;
    itCustomer->second.teams()[entry.team()] = &entry;
    return entry;
}

void Factory::teamMapFromRow(Row& row)
{
    const OstrelDal::TeamMapQuery& q = columnsOf<OstrelDal::TeamMapQuery>();
    const VeskDal::SqlValue* pvalDomain = column(row, q.columnDomain().resultName());
    const VeskDal::SqlValue* pvalGroup = column(row, q.columnAlienGroup().resultName());
    const VeskDal::SqlValue* pvalLeadGroup = column(row, q.columnAlienGroupLeadGroup().resultName());
    const VeskDal::SqlValue* pvalTeam = column(row, q.columnTeam().resultName());
    if (pvalDomain == nullptr || pvalGroup == nullptr || pvalLeadGroup == nullptr || pvalTeam == nullptr)
        return;
    XTeam xteam(pvalDomain->string(), pvalGroup->string(), pvalLeadGroup->string(),
                integerOf(*pvalTeam, q.columnTeam().name()));
    XTeam& entry = xteams()[xteam.keyAlienMap()];
    entry = xteam;
    aliens()[entry.keyAlien()][entry.keyAlienMap()] = &entry;
    raliens()[entry.team()][entry.keyAlienMap()] = &entry;
}

User& Factory::userFromRow(Row& row)
{
    static User userError;
    User* pstored = fileUserFromRow(row);
    if (pstored == nullptr)
        return userError;
    User& stored = *pstored;

    OstrelDal::UserTeamQuery query(OstrelDal::schema());
    query.constrainDomain(VeskDal::SqlText(stored.domain().domain()));
    query.constrainUserId(VeskDal::SqlText(stored.userId()));
    Result result;
    selectAll(query, result);
    const std::string strTeam = query.columnTeam().resultName();
    for (const Row& rowTeam : result) {
        if (const VeskDal::SqlValue* pvalTeam = column(rowTeam, strTeam))
            addTeam(stored, integerOf(*pvalTeam, query.columnTeam().name()));
    }
    return stored;
}

// ---- rows of the plug-ins

Platform& Factory::platformFromRow(Row& row)
{
    static Platform platformError;
    const OstrelDal::PlatformQuery& q = columnsOf<OstrelDal::PlatformQuery>();
    const VeskDal::SqlValue* pvalPlatform = column(row, q.columnPlatform().resultName());
    const VeskDal::SqlValue* pvalDescription = column(row, q.columnDescription().resultName());
    if (pvalPlatform == nullptr || pvalDescription == nullptr)
        return platformError;
    Platform& entry = platforms()[pvalPlatform->string()];
    entry = Platform(pvalPlatform->string(), pvalDescription->string());
    return entry;
}

AuthenticationLibrary& Factory::authenticationLibraryFromRow(Row& row)
{
    static AuthenticationLibrary libraryError;
    const OstrelDal::AuthenticationLibraryQuery& q = columnsOf<OstrelDal::AuthenticationLibraryQuery>();
    const VeskDal::SqlValue* pvalLibrary = column(row, q.columnAuthenticationLibrary().resultName());
    const VeskDal::SqlValue* pvalDescription = column(row, q.columnDescription().resultName());
    const VeskDal::SqlValue* pvalDisposition = column(row, q.columnAuthenticationTokenDisposition().resultName());
    const VeskDal::SqlValue* pvalUserTools = column(row, q.columnUserTools().resultName());
    if (pvalLibrary == nullptr || pvalDescription == nullptr || pvalDisposition == nullptr ||
        pvalUserTools == nullptr)
        return libraryError;
    const int nLibrary = integerOf(*pvalLibrary, q.columnAuthenticationLibrary().name());

    const std::string strDisposition = pvalDisposition->string();
    AuthenticationLibrary::AuthenticationTokenDisposition disposition = AuthenticationLibrary::dispositionUnknown;
    if (strDisposition == "C")
        disposition = AuthenticationLibrary::dispositionConfig;
    else if (strDisposition == "H")
        disposition = AuthenticationLibrary::dispositionHashedPassword;
    else if (strDisposition == "N")
        disposition = AuthenticationLibrary::dispositionNotUsed;
    else if (strDisposition == "P")
        disposition = AuthenticationLibrary::dispositionClearPassword;
    else if (strDisposition == "X")
        disposition = AuthenticationLibrary::dispositionMap;

    InitMap initLibrary;
    try {
        OstrelDal::AuthenticationLibraryParamQuery query(OstrelDal::schema());
        query.constrainAuthenticationLibrary(VeskDal::SqlInteger(nLibrary));
        Result result;
        selectAll(query, result);
        initLibrary = initMapFromResult(result);
    } catch (const VeskDal::DalDatabaseException&) {
        initLibrary.clear();
    }
    const bool bUserTools = pvalUserTools->string() == "Y";

    OstrelData::AuthenticationLibraryMap& templateS = authenticationLibraryTemplates();
    OstrelData::AuthenticationLibraryMap::iterator it = templateS.find(nLibrary);
    if (it == templateS.end()) {
        return templateS
            .emplace(nLibrary,
                     AuthenticationLibrary(nLibrary, pvalDescription->string(), initLibrary, disposition, bUserTools))
            .first->second;
    }
    // Replacing a template that has loaded its shared object would close it under the objects the
    // plug-in made; the record is updated where it is instead, and its files are entered again.
    AuthenticationLibrary& entry = it->second;
    entry.setDescription(pvalDescription->string());
    entry.setLibraryInit(initLibrary);
    entry.setAuthenticationTokenDisposition(disposition);
    entry.setUserTools(bUserTools);
    entry.sharedObjects().clear();
    return entry;
}

SharedObject& Factory::sharedObjectFromRow(Row& row)
{
    static SharedObject sharedObjectError;
    const OstrelDal::SharedObjectQuery& q = columnsOf<OstrelDal::SharedObjectQuery>();
    const VeskDal::SqlValue* pvalPlatform = column(row, q.columnPlatform().resultName());
    const VeskDal::SqlValue* pvalLibrary = column(row, q.columnAuthenticationLibrary().resultName());
    const VeskDal::SqlValue* pvalFile = column(row, q.columnSharedObject().resultName());
    if (pvalPlatform == nullptr || pvalLibrary == nullptr || pvalFile == nullptr)
        return sharedObjectError;
    const std::string strPlatform = pvalPlatform->string();
    OstrelData::PlatformMap::iterator itPlatform = platforms().find(strPlatform);
    if (itPlatform == platforms().end())
        OSTREL_RAISE(OstrelData::nNAX_PLATFORMNOTFOUND, strPlatform);
    const int nLibrary = integerOf(*pvalLibrary, q.columnAuthenticationLibrary().name());
    OstrelData::AuthenticationLibraryMap::iterator itLibrary = authenticationLibraryTemplates().find(nLibrary);
    if (itLibrary == authenticationLibraryTemplates().end())
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONLIBRARYNOTFOUND, std::to_string(nLibrary));

    SharedObject sharedObject(itPlatform->second, itLibrary->second, pvalFile->string());
    SharedObject& entry = sharedObjects()[sharedObject.key()];
    entry = sharedObject;
    itLibrary->second.sharedObjects()[strPlatform] = &entry;
    return entry;
}

} // namespace OstrelDataDB
