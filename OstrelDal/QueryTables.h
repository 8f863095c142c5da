#ifndef OSTRELDAL_QUERYTABLES_H
#define OSTRELDAL_QUERYTABLES_H

// The tables the query classes know: for each, its columns in table order, then its key columns in
// key order. Names are the database's own, case-exact. The entry kinds are explained in
// QueryPattern.h (COLUMN, NAMED_COLUMN, KEY, TABLE_KEY); each list makes the class StemQueryBase.

// ---- organisation

#define OSTRELDAL_TABLE_Customer(X) \
    X(COLUMN, Customer) X(COLUMN, Name) \
    X(KEY, Customer)

#define OSTRELDAL_TABLE_Domain(X) \
    X(COLUMN, Domain) X(COLUMN, Description) X(COLUMN, Customer) X(COLUMN, AuthenticationLibrary) \
    X(COLUMN, UserTools) \
    X(KEY, Domain)

#define OSTRELDAL_TABLE_Team(X) \
    X(COLUMN, Team) X(COLUMN, Customer) X(COLUMN, Name) \
    X(KEY, Team)

#define OSTRELDAL_TABLE_TeamMap(X) \
    X(COLUMN, Domain) X(COLUMN, AlienGroup) X(COLUMN, AlienGroupLeadGroup) X(COLUMN, Team) \
    X(KEY, Domain) X(KEY, Team)

#define OSTRELDAL_TABLE_User(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Name) X(COLUMN, AuthenticationToken) X(COLUMN, Contact) \
    X(COLUMN, Status) X(COLUMN, BadLoginCount) \
    X(KEY, Domain) X(KEY, UserId)

#define OSTRELDAL_TABLE_UserTeam(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Team) X(COLUMN, IsLead) \
    X(KEY, Domain) X(KEY, UserId) X(KEY, Team)

// ---- products and grants

#define OSTRELDAL_TABLE_Product(X) \
    X(COLUMN, Product) X(COLUMN, Description) \
    X(KEY, Product)

#define OSTRELDAL_TABLE_ProductRole(X) \
    X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Description) X(COLUMN, Status) \
    X(KEY, Product) X(KEY, Role)

#define OSTRELDAL_TABLE_ProductPermission(X) \
    X(COLUMN, Product) X(COLUMN, Permission) X(COLUMN, Description) X(COLUMN, Status) \
    X(KEY, Product) X(KEY, Permission)

#define OSTRELDAL_TABLE_ProductRolePermission(X) \
    X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Permission) X(COLUMN, Status) \
    X(KEY, Product) X(KEY, Role) X(KEY, Permission)

#define OSTRELDAL_TABLE_TeamProductRole(X) \
    X(COLUMN, Team) X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Status) \
    X(KEY, Team) X(KEY, Product) X(KEY, Role)

#define OSTRELDAL_TABLE_TeamProductPermission(X) \
    X(COLUMN, Team) X(COLUMN, Product) X(COLUMN, Permission) X(COLUMN, Status) \
    X(KEY, Team) X(KEY, Product) X(KEY, Permission)

#define OSTRELDAL_TABLE_UserProductRole(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Status) \
    X(KEY, Domain) X(KEY, UserId) X(KEY, Product) X(KEY, Role)

#define OSTRELDAL_TABLE_UserProductPermission(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Product) X(COLUMN, Permission) X(COLUMN, Status) \
    X(KEY, Domain) X(KEY, UserId) X(KEY, Product) X(KEY, Permission)

// Any grant table of roles or permissions (customer, team or user grants), supplied by the caller:
// the grantee columns differ from table to table, so they are constrained but never selected.
#define OSTRELDAL_TABLE_GenericProductRole(X) \
    X(NAMED_COLUMN, Product) X(NAMED_COLUMN, Role) X(NAMED_COLUMN, Status) \
    X(TABLE_KEY, Customer) X(TABLE_KEY, Team) X(TABLE_KEY, Domain) X(TABLE_KEY, UserId) \
    X(KEY, Product) X(KEY, Role)

#define OSTRELDAL_TABLE_GenericProductPermission(X) \
    X(NAMED_COLUMN, Product) X(NAMED_COLUMN, Permission) X(NAMED_COLUMN, Status) \
    X(TABLE_KEY, Customer) X(TABLE_KEY, Team) X(TABLE_KEY, Domain) X(TABLE_KEY, UserId) \
    X(KEY, Product) X(KEY, Permission)

// ---- authentication plug-ins

#define OSTRELDAL_TABLE_Platform(X) \
    X(COLUMN, Platform) X(COLUMN, Description) \
    X(KEY, Platform)

#define OSTRELDAL_TABLE_SharedObject(X) \
    X(COLUMN, Platform) X(COLUMN, AuthenticationLibrary) X(COLUMN, SharedObject) \
    X(KEY, Platform) X(KEY, AuthenticationLibrary)

#define OSTRELDAL_TABLE_AuthenticationLibrary(X) \
    X(COLUMN, AuthenticationLibrary) X(COLUMN, Description) X(COLUMN, AuthenticationTokenDisposition) \
    X(COLUMN, UserTools) \
    X(KEY, AuthenticationLibrary)

#define OSTRELDAL_TABLE_AuthenticationLibraryParam(X) \
    X(NAMED_COLUMN, AuthenticationLibrary) X(NAMED_COLUMN, Param) X(NAMED_COLUMN, Value) \
    X(KEY, AuthenticationLibrary) X(KEY, Param)

#define OSTRELDAL_TABLE_AuthenticatorParam(X) \
    X(NAMED_COLUMN, Domain) X(NAMED_COLUMN, Param) X(NAMED_COLUMN, Value) \
    X(KEY, Domain) X(KEY, Param)

// ---- profiles

#define OSTRELDAL_TABLE_Profile(X) \
    X(COLUMN, Profile) X(COLUMN, IsDefault) \
    X(KEY, Profile)

#define OSTRELDAL_TABLE_ProfileHost(X) \
    X(COLUMN, Profile) X(COLUMN, Host) \
    X(KEY, Profile) X(KEY, Host)

#define OSTRELDAL_TABLE_ProductParam(X) \
    X(COLUMN, Profile) X(COLUMN, Product) X(COLUMN, Param) X(COLUMN, Value) \
    X(KEY, Profile) X(KEY, Product) X(KEY, Param)

#define OSTRELDAL_TABLE_DBProfile(X) \
    X(COLUMN, PName) X(COLUMN, PValue) \
    X(KEY, PName)

#endif
