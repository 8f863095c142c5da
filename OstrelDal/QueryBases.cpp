// Generated from QueryTables.h by cmake/GenerateQueryBases.cmake: do not edit. Change the table's
// list there and build the target ostrel_query_bases.

// The constructors and key constraints of the query base classes.

#include "OstrelDal/OstrelDal.h"

namespace OstrelDal {

// ---- CustomerQueryBase

CustomerQueryBase::CustomerQueryBase(const VeskDal::SqlSchema& schema)
    : CustomerQueryBase(VeskDal::SqlTable(schema, "Customer", ""))
{
}

CustomerQueryBase::CustomerQueryBase(const VeskDal::SqlTable& table)
    : _tbCustomer(table)
{
}

void CustomerQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colCustomer, _valCustomerConstraint);
}

// ---- DomainQueryBase

DomainQueryBase::DomainQueryBase(const VeskDal::SqlSchema& schema)
    : DomainQueryBase(VeskDal::SqlTable(schema, "Domain", ""))
{
}

DomainQueryBase::DomainQueryBase(const VeskDal::SqlTable& table)
    : _tbDomain(table)
{
}

void DomainQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colDomain, _valDomainConstraint);
}

// ---- TeamQueryBase

TeamQueryBase::TeamQueryBase(const VeskDal::SqlSchema& schema)
    : TeamQueryBase(VeskDal::SqlTable(schema, "Team", ""))
{
}

TeamQueryBase::TeamQueryBase(const VeskDal::SqlTable& table)
    : _tbTeam(table)
{
}

void TeamQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colTeam, _valTeamConstraint);
}

// ---- TeamMapQueryBase

TeamMapQueryBase::TeamMapQueryBase(const VeskDal::SqlSchema& schema)
    : TeamMapQueryBase(VeskDal::SqlTable(schema, "TeamMap", ""))
{
}

TeamMapQueryBase::TeamMapQueryBase(const VeskDal::SqlTable& table)
    : _tbTeamMap(table)
{
}

void TeamMapQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colDomain, _valDomainConstraint);
    appendEqual(conditionS, _colTeam, _valTeamConstraint);
}

// ---- UserQueryBase

UserQueryBase::UserQueryBase(const VeskDal::SqlSchema& schema)
    : UserQueryBase(VeskDal::SqlTable(schema, "User", ""))
{
}

UserQueryBase::UserQueryBase(const VeskDal::SqlTable& table)
    : _tbUser(table)
{
}

void UserQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colDomain, _valDomainConstraint);
    appendEqual(conditionS, _colUserId, _valUserIdConstraint);
}

// ---- UserTeamQueryBase

UserTeamQueryBase::UserTeamQueryBase(const VeskDal::SqlSchema& schema)
    : UserTeamQueryBase(VeskDal::SqlTable(schema, "UserTeam", ""))
{
}

UserTeamQueryBase::UserTeamQueryBase(const VeskDal::SqlTable& table)
    : _tbUserTeam(table)
{
}

void UserTeamQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colDomain, _valDomainConstraint);
    appendEqual(conditionS, _colUserId, _valUserIdConstraint);
    appendEqual(conditionS, _colTeam, _valTeamConstraint);
}

// ---- ProductQueryBase

ProductQueryBase::ProductQueryBase(const VeskDal::SqlSchema& schema)
    : ProductQueryBase(VeskDal::SqlTable(schema, "Product", ""))
{
}

ProductQueryBase::ProductQueryBase(const VeskDal::SqlTable& table)
    : _tbProduct(table)
{
}

void ProductQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colProduct, _valProductConstraint);
}

// ---- ProductRoleQueryBase

ProductRoleQueryBase::ProductRoleQueryBase(const VeskDal::SqlSchema& schema)
    : ProductRoleQueryBase(VeskDal::SqlTable(schema, "ProductRole", ""))
{
}

ProductRoleQueryBase::ProductRoleQueryBase(const VeskDal::SqlTable& table)
    : _tbProductRole(table)
{
}

void ProductRoleQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colRole, _valRoleConstraint);
}

// ---- ProductPermissionQueryBase

ProductPermissionQueryBase::ProductPermissionQueryBase(const VeskDal::SqlSchema& schema)
    : ProductPermissionQueryBase(VeskDal::SqlTable(schema, "ProductPermission", ""))
{
}

ProductPermissionQueryBase::ProductPermissionQueryBase(const VeskDal::SqlTable& table)
    : _tbProductPermission(table)
{
}

void ProductPermissionQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colPermission, _valPermissionConstraint);
}

// ---- ProductRolePermissionQueryBase

ProductRolePermissionQueryBase::ProductRolePermissionQueryBase(const VeskDal::SqlSchema& schema)
    : ProductRolePermissionQueryBase(VeskDal::SqlTable(schema, "ProductRolePermission", ""))
{
}

ProductRolePermissionQueryBase::ProductRolePermissionQueryBase(const VeskDal::SqlTable& table)
    : _tbProductRolePermission(table)
{
}

void ProductRolePermissionQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colRole, _valRoleConstraint);
    appendEqual(conditionS, _colPermission, _valPermissionConstraint);
}

// ---- TeamProductRoleQueryBase

TeamProductRoleQueryBase::TeamProductRoleQueryBase(const VeskDal::SqlSchema& schema)
    : TeamProductRoleQueryBase(VeskDal::SqlTable(schema, "TeamProductRole", ""))
{
}

TeamProductRoleQueryBase::TeamProductRoleQueryBase(const VeskDal::SqlTable& table)
    : _tbTeamProductRole(table)
{
}

void TeamProductRoleQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colTeam, _valTeamConstraint);
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colRole, _valRoleConstraint);
}

// ---- TeamProductPermissionQueryBase

TeamProductPermissionQueryBase::TeamProductPermissionQueryBase(const VeskDal::SqlSchema& schema)
    : TeamProductPermissionQueryBase(VeskDal::SqlTable(schema, "TeamProductPermission", ""))
{
}

TeamProductPermissionQueryBase::TeamProductPermissionQueryBase(const VeskDal::SqlTable& table)
    : _tbTeamProductPermission(table)
{
}

void TeamProductPermissionQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colTeam, _valTeamConstraint);
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colPermission, _valPermissionConstraint);
}

// ---- UserProductRoleQueryBase

UserProductRoleQueryBase::UserProductRoleQueryBase(const VeskDal::SqlSchema& schema)
    : UserProductRoleQueryBase(VeskDal::SqlTable(schema, "UserProductRole", ""))
{
}

UserProductRoleQueryBase::UserProductRoleQueryBase(const VeskDal::SqlTable& table)
    : _tbUserProductRole(table)
{
}

void UserProductRoleQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colDomain, _valDomainConstraint);
    appendEqual(conditionS, _colUserId, _valUserIdConstraint);
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colRole, _valRoleConstraint);
}

// ---- UserProductPermissionQueryBase

UserProductPermissionQueryBase::UserProductPermissionQueryBase(const VeskDal::SqlSchema& schema)
    : UserProductPermissionQueryBase(VeskDal::SqlTable(schema, "UserProductPermission", ""))
{
}

UserProductPermissionQueryBase::UserProductPermissionQueryBase(const VeskDal::SqlTable& table)
    : _tbUserProductPermission(table)
{
}

void UserProductPermissionQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colDomain, _valDomainConstraint);
    appendEqual(conditionS, _colUserId, _valUserIdConstraint);
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colPermission, _valPermissionConstraint);
}

// ---- GenericProductRoleQueryBase

GenericProductRoleQueryBase::GenericProductRoleQueryBase(const VeskDal::SqlTable& table)
    : _tbGrant(table)
{
}

void GenericProductRoleQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _tbGrant, "Customer", _valCustomerConstraint);
    appendEqual(conditionS, _tbGrant, "Team", _valTeamConstraint);
    appendEqual(conditionS, _tbGrant, "Domain", _valDomainConstraint);
    appendEqual(conditionS, _tbGrant, "UserId", _valUserIdConstraint);
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colRole, _valRoleConstraint);
}

// ---- GenericProductPermissionQueryBase

GenericProductPermissionQueryBase::GenericProductPermissionQueryBase(const VeskDal::SqlTable& table)
    : _tbGrant(table)
{
}

void GenericProductPermissionQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _tbGrant, "Customer", _valCustomerConstraint);
    appendEqual(conditionS, _tbGrant, "Team", _valTeamConstraint);
    appendEqual(conditionS, _tbGrant, "Domain", _valDomainConstraint);
    appendEqual(conditionS, _tbGrant, "UserId", _valUserIdConstraint);
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colPermission, _valPermissionConstraint);
}

// ---- PlatformQueryBase

PlatformQueryBase::PlatformQueryBase(const VeskDal::SqlSchema& schema)
    : PlatformQueryBase(VeskDal::SqlTable(schema, "Platform", ""))
{
}

PlatformQueryBase::PlatformQueryBase(const VeskDal::SqlTable& table)
    : _tbPlatform(table)
{
}

void PlatformQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colPlatform, _valPlatformConstraint);
}

// ---- SharedObjectQueryBase

SharedObjectQueryBase::SharedObjectQueryBase(const VeskDal::SqlSchema& schema)
    : SharedObjectQueryBase(VeskDal::SqlTable(schema, "SharedObject", ""))
{
}

SharedObjectQueryBase::SharedObjectQueryBase(const VeskDal::SqlTable& table)
    : _tbSharedObject(table)
{
}

void SharedObjectQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colPlatform, _valPlatformConstraint);
    appendEqual(conditionS, _colAuthenticationLibrary, _valAuthenticationLibraryConstraint);
}

// ---- AuthenticationLibraryQueryBase

AuthenticationLibraryQueryBase::AuthenticationLibraryQueryBase(const VeskDal::SqlSchema& schema)
    : AuthenticationLibraryQueryBase(VeskDal::SqlTable(schema, "AuthenticationLibrary", ""))
{
}

AuthenticationLibraryQueryBase::AuthenticationLibraryQueryBase(const VeskDal::SqlTable& table)
    : _tbAuthenticationLibrary(table)
{
}

void AuthenticationLibraryQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colAuthenticationLibrary, _valAuthenticationLibraryConstraint);
}

// ---- AuthenticationLibraryParamQueryBase

AuthenticationLibraryParamQueryBase::AuthenticationLibraryParamQueryBase(const VeskDal::SqlSchema& schema)
    : AuthenticationLibraryParamQueryBase(VeskDal::SqlTable(schema, "AuthenticationLibraryParam", "AP"))
{
}

AuthenticationLibraryParamQueryBase::AuthenticationLibraryParamQueryBase(const VeskDal::SqlTable& table)
    : _tbAuthenticationLibraryParam(table)
{
}

void AuthenticationLibraryParamQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colAuthenticationLibrary, _valAuthenticationLibraryConstraint);
    appendEqual(conditionS, _colParam, _valParamConstraint);
}

// ---- AuthenticatorParamQueryBase

AuthenticatorParamQueryBase::AuthenticatorParamQueryBase(const VeskDal::SqlSchema& schema)
    : AuthenticatorParamQueryBase(VeskDal::SqlTable(schema, "AuthenticatorParam", "AP"))
{
}

AuthenticatorParamQueryBase::AuthenticatorParamQueryBase(const VeskDal::SqlTable& table)
    : _tbAuthenticatorParam(table)
{
}

void AuthenticatorParamQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colDomain, _valDomainConstraint);
    appendEqual(conditionS, _colParam, _valParamConstraint);
}

// ---- ProfileQueryBase

ProfileQueryBase::ProfileQueryBase(const VeskDal::SqlSchema& schema)
    : ProfileQueryBase(VeskDal::SqlTable(schema, "Profile", ""))
{
}

ProfileQueryBase::ProfileQueryBase(const VeskDal::SqlTable& table)
    : _tbProfile(table)
{
}

void ProfileQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colProfile, _valProfileConstraint);
}

// ---- ProfileHostQueryBase

ProfileHostQueryBase::ProfileHostQueryBase(const VeskDal::SqlSchema& schema)
    : ProfileHostQueryBase(VeskDal::SqlTable(schema, "ProfileHost", ""))
{
}

ProfileHostQueryBase::ProfileHostQueryBase(const VeskDal::SqlTable& table)
    : _tbProfileHost(table)
{
}

void ProfileHostQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colProfile, _valProfileConstraint);
    appendEqual(conditionS, _colHost, _valHostConstraint);
}

// ---- ProductParamQueryBase

ProductParamQueryBase::ProductParamQueryBase(const VeskDal::SqlSchema& schema)
    : ProductParamQueryBase(VeskDal::SqlTable(schema, "ProductParam", ""))
{
}

ProductParamQueryBase::ProductParamQueryBase(const VeskDal::SqlTable& table)
    : _tbProductParam(table)
{
}

void ProductParamQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colProfile, _valProfileConstraint);
    appendEqual(conditionS, _colProduct, _valProductConstraint);
    appendEqual(conditionS, _colParam, _valParamConstraint);
}

// ---- DBProfileQueryBase

DBProfileQueryBase::DBProfileQueryBase(const VeskDal::SqlSchema& schema)
    : DBProfileQueryBase(VeskDal::SqlTable(schema, "DBProfile", ""))
{
}

DBProfileQueryBase::DBProfileQueryBase(const VeskDal::SqlTable& table)
    : _tbDBProfile(table)
{
}

void DBProfileQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colPName, _valPNameConstraint);
}

// ---- KeptSessionQueryBase

KeptSessionQueryBase::KeptSessionQueryBase(const VeskDal::SqlSchema& schema)
    : KeptSessionQueryBase(VeskDal::SqlTable(schema, "KeptSession", ""))
{
}

KeptSessionQueryBase::KeptSessionQueryBase(const VeskDal::SqlTable& table)
    : _tbKeptSession(table)
{
}

void KeptSessionQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colSessionDigest, _valSessionDigestConstraint);
}

// ---- ModelChangeQueryBase

ModelChangeQueryBase::ModelChangeQueryBase(const VeskDal::SqlSchema& schema)
    : ModelChangeQueryBase(VeskDal::SqlTable(schema, "ModelChange", ""))
{
}

ModelChangeQueryBase::ModelChangeQueryBase(const VeskDal::SqlTable& table)
    : _tbModelChange(table)
{
}

void ModelChangeQueryBase::addConstraints(VeskDal::SqlCompoundCondition& conditionS)
{
    appendEqual(conditionS, _colId, _valIdConstraint);
}

} // namespace OstrelDal
