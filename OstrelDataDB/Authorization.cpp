// Authorisation: a user's grants read from the customer, team and user grant tables at the moment
// of the request and merged into his product map; and the thin operations over the base factory.

#include <sstream>
#include <string>

#include "Corvel/EventLogger.h"
#include "OstrelDal/OstrelDal.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "FactorySupport.h"

namespace OstrelDataDB {

using OstrelData::PRStatus;
using OstrelData::Product;
using OstrelData::ProductMap;
using detail::column;
using detail::Result;
using detail::Row;
using detail::integerOf;

namespace {

// Grant failures are the application's business, not the loader's.
constexpr int g_nGrantLayer = Corvel::layerApplication;

// The generic grant queries as the merges read their rows: on a table "PR" ("PP") under that alias.
template <class TQuery>
const TQuery& grantColumns(const char* pszTable)
{
    static const TQuery s_query{VeskDal::SqlTable(VeskDal::SqlSchema(), pszTable, pszTable)};
    return s_query;
}

// The user's copy of a granted product, made from the registry when the first grant for it is met.
Product& grantedProduct(ProductMap& productS, int nProduct)
{
    ProductMap::iterator it = productS.find(nProduct);
    if (it != productS.end())
        return it->second;
    const ProductMap& registryS = OstrelData::Factory::products();
    ProductMap::const_iterator itRegistry = registryS.find(nProduct);
    if (itRegistry == registryS.end())
        OSTREL_RAISE_REMOTE(OstrelData::nNAX_PRODUCTNOTFOUND, std::to_string(nProduct));
    return productS.emplace(nProduct, itRegistry->second).first->second;
}

void logRowFailure(const OstrelData::Exception& e)
{
    std::ostringstream text;
    text << e;
    Corvel::EventLogger::theLogger().logWarning(text.str(), g_nGrantLayer);
}

// Merges the grant rows of result into productS: the number in columnNumber and the status, by
// merge (a role's or a permission's).
template <class TQuery>
void mergeGrantRows(ProductMap& productS, const Factory::Result& result, const TQuery& q,
                    const VeskDal::SqlColumn& columnNumber, void (Product::*merge)(int, const PRStatus&))
{
    const std::string strProduct = q.columnProduct().resultName();
    const std::string strNumber = columnNumber.resultName();
    const std::string strStatus = q.columnStatus().resultName();
    for (const Factory::Row& row : result) {
        const VeskDal::SqlValue* pvalProduct = column(row, strProduct);
        const VeskDal::SqlValue* pvalNumber = column(row, strNumber);
        const VeskDal::SqlValue* pvalStatus = column(row, strStatus);
        if (pvalProduct == nullptr || pvalNumber == nullptr || pvalStatus == nullptr)
            continue;
        try {
            Product& product = grantedProduct(productS, integerOf(*pvalProduct, q.columnProduct().name()));
            const int nNumber = integerOf(*pvalNumber, columnNumber.name());
            (product.*merge)(nNumber, PRStatus::fromInt(integerOf(*pvalStatus, q.columnStatus().name())));
        } catch (const OstrelData::Exception& e) {
            logRowFailure(e);
        }
    }
}

// One step of authorisation: a failure of the database is logged and the next step runs.
template <class TStep>
void grantStep(TStep step)
{
    detail::onDatabaseFailure(detail::g_ruleStatement, step, [](const OstrelData::Exception& e) {
        Corvel::EventLogger::theLogger().logError(e.legend(), g_nGrantLayer);
    });
}

// Selects the grants of one grant table under the constraints already set and merges them.
template <class TQuery>
void readGrants(TQuery& query, VeskDal::DalDatabase& database, Factory::Result& result, ProductMap& productS,
                void (*merge)(ProductMap&, const Factory::Result&))
{
    result.clear();
    query.select(result, database, VeskDal::SqlQueryBase::full);
    merge(productS, result);
}

} // namespace

void Factory::productRoleMapFromResult(ProductMap& productS, const Result& result)
{
    const OstrelDal::GenericProductRoleQuery& q = grantColumns<OstrelDal::GenericProductRoleQuery>("PR");
    mergeGrantRows(productS, result, q, q.columnRole(), &Product::mergeRoleStatus);
}

void Factory::productPermissionMapFromResult(ProductMap& productS, const Result& result)
{
    const OstrelDal::GenericProductPermissionQuery& q =
        grantColumns<OstrelDal::GenericProductPermissionQuery>("PP");
    mergeGrantRows(productS, result, q, q.columnPermission(), &Product::mergePermissionStatus);
}

void Factory::authorize(OstrelData::User& user)
{
    const OstrelData::Domain& domain = user.domain();
    const std::string strCustomer = domain.customer()->customer();
    const VeskDal::SqlText valDomain(domain.domain());
    const VeskDal::SqlText valUserId(user.userId());

    OstrelDal::Connection connection(nullptr);
    detail::convertingDatabaseFailures(detail::g_ruleStatement, [&connection]() { connection = OstrelDal::connection(); });
    VeskDal::DalDatabase& database = connection.db();
    // The grant selects as one batch: on SQLite, one lock on the file instead of one per select,
    // which is most of what a small select costs.
    VeskDal::DalReads reads(database);
    const VeskDal::SqlSchema& schema = OstrelDal::schema();
    const VeskDal::SqlTable tbCustomerRole(schema, "CustomerProductRole", "PR");
    const VeskDal::SqlTable tbCustomerPermission(schema, "CustomerProductPermission", "PP");
    const VeskDal::SqlTable tbTeamRole(schema, "TeamProductRole", "PR");
    const VeskDal::SqlTable tbTeamPermission(schema, "TeamProductPermission", "PP");
    const VeskDal::SqlTable tbUserRole(schema, "UserProductRole", "PR");
    const VeskDal::SqlTable tbUserPermission(schema, "UserProductPermission", "PP");

    ProductMap& productS = user.products();
    Result result;

    grantStep([&]() {
        OstrelDal::GenericProductRoleQuery query(tbCustomerRole);
        query.constrainCustomer(VeskDal::SqlText(strCustomer));
        readGrants(query, database, result, productS, &Factory::productRoleMapFromResult);
    });
    grantStep([&]() {
        OstrelDal::GenericProductPermissionQuery query(tbCustomerPermission);
        query.constrainCustomer(VeskDal::SqlText(strCustomer));
        readGrants(query, database, result, productS, &Factory::productPermissionMapFromResult);
    });
    // One guard for all teams: after the first failure the remaining teams are skipped.
    grantStep([&]() {
        // One query of each kind for all teams: only the team constraint changes.
        OstrelDal::GenericProductRoleQuery queryRole(tbTeamRole);
        OstrelDal::GenericProductPermissionQuery queryPermission(tbTeamPermission);
        const OstrelData::TeamMap& teamS = static_cast<const OstrelData::User&>(user).teams();
        for (const auto& entry : teamS) {
            const VeskDal::SqlInteger valTeam(entry.first);
            queryRole.constrainTeam(valTeam);
            readGrants(queryRole, database, result, productS, &Factory::productRoleMapFromResult);
            queryPermission.constrainTeam(valTeam);
            readGrants(queryPermission, database, result, productS, &Factory::productPermissionMapFromResult);
        }
    });

    if (OstrelDal::statementEcho() != OstrelDal::echoOff) {
        for (const auto& entry : productS)
            OstrelDal::trace("Product <" + std::to_string(entry.first) + ">");
    }

    grantStep([&]() {
        OstrelDal::GenericProductRoleQuery query(tbUserRole);
        query.constrainDomain(valDomain);
        query.constrainUserId(valUserId);
        readGrants(query, database, result, productS, &Factory::productRoleMapFromResult);
    });
    grantStep([&]() {
        OstrelDal::GenericProductPermissionQuery query(tbUserPermission);
        query.constrainDomain(valDomain);
        query.constrainUserId(valUserId);
        readGrants(query, database, result, productS, &Factory::productPermissionMapFromResult);
    });

    mergeRolePermissionsIntoPermissions(productS);
}

OstrelData::AuthenticatedUser Factory::authenticate(const OstrelData::User& user,
                                                    const OstrelData::AuthenticationToken& authToken,
                                                    const OstrelData::Profile& profile)
{
    // Authorised in place: the rights checks of the administration read the current user.
    OstrelData::AuthenticatedUser& userAuth = OstrelData::Factory::authenticate(user, authToken, profile);
    authorize(userAuth);
    return userAuth;
}

void Factory::user(OstrelData::User& userF, bool bRecurse)
{
    OstrelData::Factory::user(userF, bRecurse);
    authorize(userF);
}

void Factory::persistSession(OstrelData::AuthenticatedUser& userP)
{
    OstrelData::Factory::persistSession(userP);
}

OstrelData::AuthenticatedUser& Factory::retrieveSession(const OstrelData::Session& session)
{
    return OstrelData::Factory::retrieveSession(session);
}

OstrelData::ProfileMap& Factory::profiles()
{
    return OstrelData::Factory::profiles();
}

OstrelData::ProfileMap Factory::profiles(const std::string& strHost)
{
    OstrelDal::ProfileHostQuery query(OstrelDal::schema());
    query.constrainHost(VeskDal::SqlText(strHost));
    Result result;
    {
        OstrelDal::Connection connection = OstrelDal::connection();
        query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
    }
    OstrelData::ProfileMap profileS;
    for (Row& row : result) {
        const OstrelData::Profile profile = profileFromRowNI(row);
        profileS.insert_or_assign(profile.profile(), profile);
    }
    for (const auto& entry : OstrelData::Factory::profiles())
        profileS.insert_or_assign(entry.first, entry.second);
    return profileS;
}

} // namespace OstrelDataDB
