// What the query classes that differ from the pattern add (the bases are in QueryBases.cpp).

#include "OstrelDal/OstrelDal.h"

namespace OstrelDal {

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
