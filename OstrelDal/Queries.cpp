// The query classes: the bases made from the table lists, and what the classes that differ add.

#include "OstrelDal/OstrelDal.h"

namespace OstrelDal {

// A base on a schema addresses the table under its own name (with the alias given here); a base on
// a supplied table takes that table as it is.
#define OSTRELDAL_DEFINE_QUERY_BASE(Stem, Alias)                                                         \
    Stem##QueryBase::Stem##QueryBase(const VeskDal::SqlSchema& schema)                                   \
        : Stem##QueryBase(VeskDal::SqlTable(schema, #Stem, Alias))                                       \
    {                                                                                                    \
    }                                                                                                    \
    Stem##QueryBase::Stem##QueryBase(const VeskDal::SqlTable& table) : _tb##Stem(table) {}               \
    void Stem##QueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)                      \
    {                                                                                                    \
        OSTRELDAL_TABLE_##Stem(OSTRELDAL_CONSTRAINT)                                                     \
    }

#define OSTRELDAL_DEFINE_GRANT_QUERY_BASE(Stem)                                                          \
    Stem##QueryBase::Stem##QueryBase(const VeskDal::SqlTable& table) : _tbGrant(table) {}                \
    void Stem##QueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)                      \
    {                                                                                                    \
        OSTRELDAL_TABLE_##Stem(OSTRELDAL_CONSTRAINT)                                                     \
    }

OSTRELDAL_DEFINE_QUERY_BASE(Customer, "")
OSTRELDAL_DEFINE_QUERY_BASE(Domain, "")
OSTRELDAL_DEFINE_QUERY_BASE(Team, "")
OSTRELDAL_DEFINE_QUERY_BASE(TeamMap, "")
OSTRELDAL_DEFINE_QUERY_BASE(User, "")
OSTRELDAL_DEFINE_QUERY_BASE(UserTeam, "")
OSTRELDAL_DEFINE_QUERY_BASE(Product, "")
OSTRELDAL_DEFINE_QUERY_BASE(ProductRole, "")
OSTRELDAL_DEFINE_QUERY_BASE(ProductPermission, "")
OSTRELDAL_DEFINE_QUERY_BASE(ProductRolePermission, "")
OSTRELDAL_DEFINE_QUERY_BASE(TeamProductRole, "")
OSTRELDAL_DEFINE_QUERY_BASE(TeamProductPermission, "")
OSTRELDAL_DEFINE_QUERY_BASE(UserProductRole, "")
OSTRELDAL_DEFINE_QUERY_BASE(UserProductPermission, "")
OSTRELDAL_DEFINE_GRANT_QUERY_BASE(GenericProductRole)
OSTRELDAL_DEFINE_GRANT_QUERY_BASE(GenericProductPermission)
OSTRELDAL_DEFINE_QUERY_BASE(Platform, "")
OSTRELDAL_DEFINE_QUERY_BASE(SharedObject, "")
OSTRELDAL_DEFINE_QUERY_BASE(AuthenticationLibrary, "")
OSTRELDAL_DEFINE_QUERY_BASE(AuthenticationLibraryParam, "AP")
OSTRELDAL_DEFINE_QUERY_BASE(AuthenticatorParam, "AP")
OSTRELDAL_DEFINE_QUERY_BASE(Profile, "")
OSTRELDAL_DEFINE_QUERY_BASE(ProfileHost, "")
OSTRELDAL_DEFINE_QUERY_BASE(ProductParam, "")
OSTRELDAL_DEFINE_QUERY_BASE(DBProfile, "")

// ---- DomainQuery

void DomainQuery::addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints)
{
    QueryPattern<DomainQueryBase>::addConstraints(conditionS, bAddBaseConstraints);
    appendEqual(conditionS, _colCustomer, _valCustomerConstraint);
}

// ---- UserQuery

void UserQuery::addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints)
{
    QueryPattern<UserQueryBase>::addConstraints(conditionS, bAddBaseConstraints);
    appendEqual(conditionS, _colAuthenticationToken, _valAuthenticationTokenConstraint);
    if (_valSearchConstraint.isValid()) {
        VeskDal::SqlCompoundCondition searchS(VeskDal::compOr);
        searchS.addCondition(VeskDal::SqlCondition(_colUserId, _valSearchConstraint, VeskDal::condLike,
                                                   VeskDal::SqlConditionModifier(VeskDal::likeAsIs)));
        searchS.addCondition(VeskDal::SqlCondition(_colName, _valSearchConstraint, VeskDal::condLike,
                                                   VeskDal::SqlConditionModifier(VeskDal::likeAsIs)));
        conditionS.addCondition(searchS);
    }
}

// ---- AuthenticationLibraryXQuery

AuthenticationLibraryXQuery::AuthenticationLibraryXQuery(const VeskDal::SqlSchema& schema)
    : AuthenticationLibraryXQuery(VeskDal::SqlTable(schema, "AuthenticationLibrary", ""))
{
}

AuthenticationLibraryXQuery::AuthenticationLibraryXQuery(const VeskDal::SqlTable& table)
    : AuthenticationLibraryQuery(table),
      _tbSharedObject(table.schema(), "SharedObject", ""),
      _colPlatform(this, _tbSharedObject, "Platform", ""),
      _colAuthenticationLibrary1(this, _tbSharedObject, "AuthenticationLibrary", ""),
      _colSharedObject(this, _tbSharedObject, "SharedObject", "")
{
}

int AuthenticationLibraryXQuery::select(Result& result, VeskDal::DalDatabase& database, QueryType /*type*/)
{
    VeskDal::SqlSelectStatement statement(table());
    addColumns(statement, VeskDal::SqlQueryBase::invalidToo);
    VeskDal::SqlCompoundCondition conditionS = constraints();
    statement.addJoin(VeskDal::SqlJoin(
        _tbSharedObject, VeskDal::joinInner,
        VeskDal::SqlCondition(_colAuthenticationLibrary, _colAuthenticationLibrary1, VeskDal::condEqual)));
    return runSelect(statement, conditionS, result, database);
}

int AuthenticationLibraryXQuery::insert(VeskDal::DalDatabase& /*database*/)
{
    return 0;
}

int AuthenticationLibraryXQuery::update(VeskDal::DalDatabase& /*database*/)
{
    return 0;
}

int AuthenticationLibraryXQuery::remove(VeskDal::DalDatabase& /*database*/)
{
    return 0;
}

void AuthenticationLibraryXQuery::addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints)
{
    if (bAddBaseConstraints) {
        AuthenticationLibraryQuery::addConstraints(conditionS, true);
    }
    appendEqual(conditionS, _colPlatform, _valPlatformConstraint);
}

} // namespace OstrelDal
