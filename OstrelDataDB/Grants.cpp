// Grants at customer, team and user level, written and read through the generic grant queries.

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "OstrelDal/OstrelDal.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "FactorySupport.h"

namespace OstrelDataDB {

using OstrelDal::GenericProductPermissionQuery;
using OstrelDal::GenericProductRoleQuery;
using VeskDal::SqlInteger;
using VeskDal::SqlText;

namespace {

// What differs between role and permission grants: the table of each level and the number column.
template <class TQuery>
struct GrantKind;

template <>
struct GrantKind<GenericProductRoleQuery> {
    static constexpr const char* s_pszTableS[] = {"CustomerProductRole", "TeamProductRole", "UserProductRole"};
    static VeskDal::SqlColumn& number(GenericProductRoleQuery& query) { return query.columnRole(); }
    static void constrainNumber(GenericProductRoleQuery& query, int nNumber)
    {
        query.constrainRole(SqlInteger(nNumber));
    }
};

template <>
struct GrantKind<GenericProductPermissionQuery> {
    static constexpr const char* s_pszTableS[] = {"CustomerProductPermission", "TeamProductPermission",
                                                  "UserProductPermission"};
    static VeskDal::SqlColumn& number(GenericProductPermissionQuery& query) { return query.columnPermission(); }
    static void constrainNumber(GenericProductPermissionQuery& query, int nNumber)
    {
        query.constrainPermission(SqlInteger(nNumber));
    }
};

// The grantee's columns with their values: the key of his grant rows before product and number.
std::vector<std::pair<const char*, VeskDal::SqlValue>> granteeColumns(const Grantee& grantee)
{
    switch (grantee.level) {
    case Grantee::levelCustomer:
        return {{"Customer", SqlText(grantee.strCustomer)}};
    case Grantee::levelTeam:
        return {{"Team", SqlInteger(grantee.nTeam)}};
    case Grantee::levelUser:
        return {{"Domain", SqlText(grantee.strDomain)}, {"UserId", SqlText(grantee.strUserId)}};
    }
    OSTREL_RAISE(OstrelData::nNAX_BADREQUEST, "No grant level " + std::to_string(static_cast<int>(grantee.level)));
}

// A generic grant query on the grantee's table, constrained to him. The generic queries constrain
// the grantee's columns but hold none, so an insert here writes them besides the grant's own.
template <class TQuery>
class GranteeQuery : public TQuery {
public:
    explicit GranteeQuery(const Grantee& grantee)
        : TQuery(VeskDal::SqlTable(OstrelDal::schema(), tableOf(grantee), "")), _columnS(granteeColumns(grantee))
    {
        switch (grantee.level) {
        case Grantee::levelCustomer:
            this->constrainCustomer(SqlText(grantee.strCustomer));
            break;
        case Grantee::levelTeam:
            this->constrainTeam(SqlInteger(grantee.nTeam));
            break;
        case Grantee::levelUser:
            this->constrainDomain(SqlText(grantee.strDomain));
            this->constrainUserId(SqlText(grantee.strUserId));
            break;
        }
    }

    int insert(VeskDal::DalDatabase& database) override
    {
        VeskDal::SqlInsertStatement statement(this->table());
        for (const auto& column : _columnS)
            statement.addColumn(VeskDal::SqlColumn(this->table(), column.first), column.second);
        this->addColumns(statement, VeskDal::SqlQueryBase::validOnly);
        return OstrelDal::runInsert(statement, database);
    }

private:
    static const char* tableOf(const Grantee& grantee)
    {
        granteeColumns(grantee);  // refuses a level outside the enumeration
        return GrantKind<TQuery>::s_pszTableS[grantee.level];
    }

    std::vector<std::pair<const char*, VeskDal::SqlValue>> _columnS;
};

template <class TQuery>
void readGrants(const Grantee& grantee, bool bRole, VeskDal::DalDatabase& database, std::vector<Grant>& grantS)
{
    GranteeQuery<TQuery> query(grantee);
    detail::Result result;
    query.select(result, database, VeskDal::SqlQueryBase::full);
    const std::string strProduct = query.columnProduct().resultName();
    const std::string strNumber = GrantKind<TQuery>::number(query).resultName();
    const std::string strStatus = query.columnStatus().resultName();
    for (const detail::Row& row : result) {
        const VeskDal::SqlValue* pvalProduct = detail::column(row, strProduct);
        const VeskDal::SqlValue* pvalNumber = detail::column(row, strNumber);
        if (pvalProduct == nullptr || pvalNumber == nullptr)
            continue;
        Grant grant;
        grant.nProduct = detail::integerOf(*pvalProduct, strProduct);
        grant.bRole = bRole;
        grant.nNumber = detail::integerOf(*pvalNumber, strNumber);
        const VeskDal::SqlValue* pvalStatus = detail::column(row, strStatus);
        grant.status =
            OstrelData::PRStatus::fromInt(pvalStatus == nullptr ? 0 : detail::integerOf(*pvalStatus, strStatus));
        grantS.push_back(grant);
    }
}

// The grantee's row of the grant, addressed by his key, the product and the number.
template <class TQuery>
void constrainToGrant(GranteeQuery<TQuery>& query, const Grant& grant)
{
    query.constrainProduct(SqlInteger(grant.nProduct));
    GrantKind<TQuery>::constrainNumber(query, grant.nNumber);
}

template <class TQuery>
void writeGrantRow(const Grantee& grantee, const Grant& grant, VeskDal::DalDatabase& database)
{
    GranteeQuery<TQuery> query(grantee);
    constrainToGrant(query, grant);
    const OstrelData::PRStatus::PRStatusRaw status = grant.status;
    query.columnStatus().setValue(SqlInteger(static_cast<int>(status)));
    if (query.update(database) > 0)
        return;
    query.columnProduct().setValue(SqlInteger(grant.nProduct));
    GrantKind<TQuery>::number(query).setValue(SqlInteger(grant.nNumber));
    query.insert(database);
}

template <class TQuery>
bool removeGrantRow(const Grantee& grantee, const Grant& grant, VeskDal::DalDatabase& database)
{
    GranteeQuery<TQuery> query(grantee);
    constrainToGrant(query, grant);
    return query.remove(database) > 0;
}

} // namespace

std::vector<Grant> Factory::grants(const Grantee& grantee)
{
    std::vector<Grant> grantS;
    detail::convertingDatabaseFailures(detail::g_ruleStatement, [&grantee, &grantS]() {
        OstrelDal::Connection connection = OstrelDal::connection();
        readGrants<GenericProductRoleQuery>(grantee, true, connection.db(), grantS);
        readGrants<GenericProductPermissionQuery>(grantee, false, connection.db(), grantS);
    });
    std::stable_sort(grantS.begin(), grantS.end(), [](const Grant& lhs, const Grant& rhs) {
        return std::make_tuple(!lhs.bRole, lhs.nProduct, lhs.nNumber) <
               std::make_tuple(!rhs.bRole, rhs.nProduct, rhs.nNumber);
    });
    return grantS;
}

void Factory::writeGrant(const Grantee& grantee, const Grant& grant)
{
    detail::convertingDatabaseFailures(detail::g_ruleStatement, [&grantee, &grant]() {
        OstrelDal::Connection connection = OstrelDal::connection();
        if (grant.bRole)
            writeGrantRow<GenericProductRoleQuery>(grantee, grant, connection.db());
        else
            writeGrantRow<GenericProductPermissionQuery>(grantee, grant, connection.db());
    });
}

bool Factory::removeGrant(const Grantee& grantee, const Grant& grant)
{
    bool bRemoved = false;
    detail::convertingDatabaseFailures(detail::g_ruleStatement, [&grantee, &grant, &bRemoved]() {
        OstrelDal::Connection connection = OstrelDal::connection();
        bRemoved = grant.bRole ? removeGrantRow<GenericProductRoleQuery>(grantee, grant, connection.db())
                               : removeGrantRow<GenericProductPermissionQuery>(grantee, grant, connection.db());
    });
    return bRemoved;
}

} // namespace OstrelDataDB
