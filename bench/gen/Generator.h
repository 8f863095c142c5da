#ifndef OSTREL_BENCH_GEN_GENERATOR_H
#define OSTREL_BENCH_GEN_GENERATOR_H

// Fills an empty Ostrel schema with an organisation of a chosen size, for benchmarks and load
// tests. Every row is written with bound values; the whole fill is one transaction, each table's
// insert prepared once by the driver and run for every row.
//
// The shape, for sizes C customers, D domains, U users, T teams, P products:
//   customer c: "customer<c>"; domain d: "domain<d>.example", of customer d % C, served by library 1;
//   user u: "user<u>" of domain u % D; team t: number t + 1 of customer t % C, with one outside
//   group mapped onto it in a domain of that customer; each user in teamsPerUser teams of his
//   customer; product p: number p (1..P) with roles 1..R and permissions 1..N (statuses varying),
//   role r carrying permissionsPerRole consecutive permissions; each team granted productsPerTeam
//   products (two roles and one permission of each); each customer granted one role and two
//   permissions, each user one role and one permission, some of them revoked or denied. Profiles
//   "standard" (default) and "mobile" with two parameters of every product.

#include <string>

#include "VeskDal/DalDatabase.h"

namespace OstrelGen {

struct Size {
    int nCustomers = 20;
    int nDomains = 100;
    int nUsers = 10000;
    int nTeams = 1000;
    int nTeamsPerUser = 3;
    int nProducts = 50;
    int nRoles = 20;
    int nPermissions = 20;
    int nPermissionsPerRole = 10;
    int nProductsPerTeam = 2;
};

// The default organisation grown or shrunk to nUsers users: customers, domains, teams and products
// (and with them every grant) in proportion, each at least what the shape needs; what one user
// holds (his teams, their products, his own grants) stays the same at every size.
Size scaledTo(int nUsers);

// Throws std::invalid_argument naming the first size that cannot make the shape above (a count
// below 1 where one is needed, or more per-user teams than a customer has, and the like).
void check(const Size& size);

// Runs a schema file as the administration tool does: statements cut at lines ending in ";".
void loadSchema(VeskDal::DalDatabase& database, const std::string& strSchemaFile);

// Fills the (empty) schema; strSharedObject is the file registered for library 1 on "LNX", and
// strPasswordHash every user's stored password (one hash made at a low cost lets a benchmark log in
// as anyone quickly; empty: none). Returns the number of rows written. Throws what the database
// throws (the fill is rolled back).
long fill(VeskDal::DalDatabase& database, const Size& size, const std::string& strSharedObject,
          const std::string& strPasswordHash = std::string());

// Names the fill uses, for programs that look its users up.
std::string domainName(int nDomain);
std::string userId(int nUser);

} // namespace OstrelGen

#endif
