#ifndef OSTRELDAL_QUERYTABLES_H
#define OSTRELDAL_QUERYTABLES_H

// The tables the query classes know, the one source of the XxxQueryBase classes: for each, its
// columns in table order, then its key columns in key order. Names are the database's own,
// case-exact. cmake/GenerateQueryBases.cmake writes from these lists the headers XxxQueryBase.h and
// QueryBases.cpp, each accessor spelled out (build the target ostrel_query_bases after a change;
// the test dal_query_bases_generated fails while they are out of date). The comment above a list
// becomes the comment of its class.
//
// Each entry is X(kind, Name):
//   COLUMN         a column of the table, selected under the name the database gives it, with the
//                  accessors columnName() (const and not);
//   NAMED_COLUMN   the same, selected under its own name as alias (for tables read under an alias);
//   KEY            a key constraint constrainName(value) on the same-named column;
//   TABLE_KEY      a key constraint on a column of the query's table that the query does not select
//                  (made on the spot when the constraint is set). A list with these describes any of
//                  several tables alike, and its class takes the table from the caller only;
//   PLUGIN_COLUMN  a column of the table that the query class does not hold, because only a
//                  plug-in reads and writes it (the schema test still expects it in every engine);
//   ALIAS          the alias the table takes when the class is built on a schema.

// ---- organisation

// The table "Customer": customer id and name.
#define OSTRELDAL_TABLE_Customer(X) \
    X(COLUMN, Customer) X(COLUMN, Name) \
    X(KEY, Customer)

// The table "Domain": a domain, its customer and the authentication library that serves it.
#define OSTRELDAL_TABLE_Domain(X) \
    X(COLUMN, Domain) X(COLUMN, Description) X(COLUMN, Customer) X(COLUMN, AuthenticationLibrary) \
    X(COLUMN, UserTools) \
    X(KEY, Domain)

// The table "Team": a team of a customer.
#define OSTRELDAL_TABLE_Team(X) \
    X(COLUMN, Team) X(COLUMN, Customer) X(COLUMN, Name) \
    X(KEY, Team)

// The table "TeamMap": which team an outside directory group of a domain stands for.
#define OSTRELDAL_TABLE_TeamMap(X) \
    X(COLUMN, Domain) X(COLUMN, AlienGroup) X(COLUMN, AlienGroupLeadGroup) X(COLUMN, Team) \
    X(KEY, Domain) X(KEY, Team)

// The table "User": the users of each domain. The password plug-in keeps its lockout's end in a
// column of its own.
#define OSTRELDAL_TABLE_User(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Name) X(COLUMN, AuthenticationToken) X(COLUMN, Contact) \
    X(COLUMN, Status) X(COLUMN, BadLoginCount) X(PLUGIN_COLUMN, LockedUntil) \
    X(KEY, Domain) X(KEY, UserId)

// The table "UserTeam": team membership of users.
#define OSTRELDAL_TABLE_UserTeam(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Team) X(COLUMN, IsLead) \
    X(KEY, Domain) X(KEY, UserId) X(KEY, Team)

// ---- products and grants

// The table "Product": the product catalogue.
#define OSTRELDAL_TABLE_Product(X) \
    X(COLUMN, Product) X(COLUMN, Description) \
    X(KEY, Product)

// The table "ProductRole": the numbered roles of each product.
#define OSTRELDAL_TABLE_ProductRole(X) \
    X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Description) X(COLUMN, Status) \
    X(KEY, Product) X(KEY, Role)

// The table "ProductPermission": the numbered permissions of each product.
#define OSTRELDAL_TABLE_ProductPermission(X) \
    X(COLUMN, Product) X(COLUMN, Permission) X(COLUMN, Description) X(COLUMN, Status) \
    X(KEY, Product) X(KEY, Permission)

// The table "ProductRolePermission": the permissions each role carries.
#define OSTRELDAL_TABLE_ProductRolePermission(X) \
    X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Permission) X(COLUMN, Status) \
    X(KEY, Product) X(KEY, Role) X(KEY, Permission)

// The table "TeamProductRole": roles granted to teams.
#define OSTRELDAL_TABLE_TeamProductRole(X) \
    X(COLUMN, Team) X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Status) \
    X(KEY, Team) X(KEY, Product) X(KEY, Role)

// The table "TeamProductPermission": permissions granted to teams.
#define OSTRELDAL_TABLE_TeamProductPermission(X) \
    X(COLUMN, Team) X(COLUMN, Product) X(COLUMN, Permission) X(COLUMN, Status) \
    X(KEY, Team) X(KEY, Product) X(KEY, Permission)

// The table "UserProductRole": roles granted to users.
#define OSTRELDAL_TABLE_UserProductRole(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Product) X(COLUMN, Role) X(COLUMN, Status) \
    X(KEY, Domain) X(KEY, UserId) X(KEY, Product) X(KEY, Role)

// The table "UserProductPermission": permissions granted to users.
#define OSTRELDAL_TABLE_UserProductPermission(X) \
    X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Product) X(COLUMN, Permission) X(COLUMN, Status) \
    X(KEY, Domain) X(KEY, UserId) X(KEY, Product) X(KEY, Permission)

// Any role grant table (customer, team or user grants) on a table the caller supplies; the columns
// are selected under their own names whatever the alias of the table.
#define OSTRELDAL_TABLE_GenericProductRole(X) \
    X(NAMED_COLUMN, Product) X(NAMED_COLUMN, Role) X(NAMED_COLUMN, Status) \
    X(TABLE_KEY, Customer) X(TABLE_KEY, Team) X(TABLE_KEY, Domain) X(TABLE_KEY, UserId) \
    X(KEY, Product) X(KEY, Role)

// Any permission grant table (customer, team or user grants) on a table the caller supplies; the
// columns are selected under their own names whatever the alias of the table.
#define OSTRELDAL_TABLE_GenericProductPermission(X) \
    X(NAMED_COLUMN, Product) X(NAMED_COLUMN, Permission) X(NAMED_COLUMN, Status) \
    X(TABLE_KEY, Customer) X(TABLE_KEY, Team) X(TABLE_KEY, Domain) X(TABLE_KEY, UserId) \
    X(KEY, Product) X(KEY, Permission)

// ---- authentication plug-ins

// The table "Platform": the platforms plug-ins are built for.
#define OSTRELDAL_TABLE_Platform(X) \
    X(COLUMN, Platform) X(COLUMN, Description) \
    X(KEY, Platform)

// The table "SharedObject": the file implementing each authentication library on each platform.
#define OSTRELDAL_TABLE_SharedObject(X) \
    X(COLUMN, Platform) X(COLUMN, AuthenticationLibrary) X(COLUMN, SharedObject) \
    X(KEY, Platform) X(KEY, AuthenticationLibrary)

// The table "AuthenticationLibrary": the authentication plug-in libraries.
#define OSTRELDAL_TABLE_AuthenticationLibrary(X) \
    X(COLUMN, AuthenticationLibrary) X(COLUMN, Description) X(COLUMN, AuthenticationTokenDisposition) \
    X(COLUMN, UserTools) \
    X(KEY, AuthenticationLibrary)

// The table "AuthenticationLibraryParam" (alias "AP" when built on a schema): parameters of a
// library, selected under their own names.
#define OSTRELDAL_TABLE_AuthenticationLibraryParam(X) \
    X(NAMED_COLUMN, AuthenticationLibrary) X(NAMED_COLUMN, Param) X(NAMED_COLUMN, Value) \
    X(KEY, AuthenticationLibrary) X(KEY, Param) \
    X(ALIAS, AP)

// The table "AuthenticatorParam" (alias "AP" when built on a schema): parameters of the
// authenticator of a domain, selected under their own names.
#define OSTRELDAL_TABLE_AuthenticatorParam(X) \
    X(NAMED_COLUMN, Domain) X(NAMED_COLUMN, Param) X(NAMED_COLUMN, Value) \
    X(KEY, Domain) X(KEY, Param) \
    X(ALIAS, AP)

// ---- profiles

// The table "Profile": the named profiles.
#define OSTRELDAL_TABLE_Profile(X) \
    X(COLUMN, Profile) X(COLUMN, IsDefault) \
    X(KEY, Profile)

// The table "ProfileHost": the hosts that belong to each profile.
#define OSTRELDAL_TABLE_ProfileHost(X) \
    X(COLUMN, Profile) X(COLUMN, Host) \
    X(KEY, Profile) X(KEY, Host)

// The table "ProductParam": initialisation parameters of a product in a profile.
#define OSTRELDAL_TABLE_ProductParam(X) \
    X(COLUMN, Profile) X(COLUMN, Product) X(COLUMN, Param) X(COLUMN, Value) \
    X(KEY, Profile) X(KEY, Product) X(KEY, Param)

// The table "DBProfile": free name/value pairs.
#define OSTRELDAL_TABLE_DBProfile(X) \
    X(COLUMN, PName) X(COLUMN, PValue) \
    X(KEY, PName)

// ---- the daemons' own

// The table "KeptSession": sessions kept for later, under the digest of their id.
#define OSTRELDAL_TABLE_KeptSession(X) \
    X(COLUMN, SessionDigest) X(COLUMN, Domain) X(COLUMN, UserId) X(COLUMN, Profile) X(COLUMN, Created) \
    X(COLUMN, LastUsed) X(COLUMN, CredentialStamp) \
    X(KEY, SessionDigest)

// The table "ModelChange": one row (Id 1) whose counter every write to the model's tables bumps.
#define OSTRELDAL_TABLE_ModelChange(X) \
    X(COLUMN, Id) X(COLUMN, Counter) \
    X(KEY, Id)

#endif
