// Administration: customers and domains written with the registries kept in step, and the product
// catalogue written inside transactions, guarded by the product-maintenance permission.

#include <climits>
#include <cstdint>
#include <string>

#include "OstrelDal/OstrelDal.h"
#include "OstrelData/OSROstrel.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "FactorySupport.h"

namespace OstrelDataDB {

using OstrelData::Customer;
using OstrelData::Domain;
using OstrelData::Permission;
using OstrelData::PRStatus;
using OstrelData::Product;
using OstrelData::Role;
using VeskDal::DalDatabase;
using VeskDal::SqlInteger;
using VeskDal::SqlText;

namespace {

// ---- customers and domains

// Runs one organisation statement on a pooled connection.
template <class TStatement>
void organisationStatement(TStatement statement)
{
    detail::convertingDatabaseFailures(detail::g_ruleStatement, [&statement]() {
        OstrelDal::Connection connection = OstrelDal::connection();
        statement(connection.db());
    });
}

// The id of the domain's customer; empty when it has none.
std::string customerIdOf(const Domain& domain)
{
    try {
        return domain.customer()->customer();
    } catch (const OstrelData::Exception&) {
        return std::string();
    }
}

// The customer's row holds only its name; a registered customer keeps its domains and teams.
void fileCustomer(const Customer& customer)
{
    OstrelData::CustomerMap& customerS = OstrelData::Factory::customers();
    OstrelData::CustomerMap::iterator it = customerS.find(customer.customer());
    if (it == customerS.end())
        customerS.emplace(customer.customer(), customer);
    else if (&it->second != &customer)
        it->second.setName(customer.name());
}

// Files the domain under its name. A registered customer of the same id is the one the entry
// points at (the caller's customer may be a temporary) and lists the entry; an authenticator the
// entry has stays unless the domain given brings its own.
void fileDomain(const Domain& domain)
{
    OstrelData::CustomerMap& customerS = OstrelData::Factory::customers();
    const std::string& strCustomer = domain.customer()->customer();
    OstrelData::CustomerMap::iterator itCustomer = customerS.find(strCustomer);

    Domain value = itCustomer != customerS.end() ? Domain(itCustomer->second, domain.domain()) : domain;
    value.setDescription(domain.description());

    Domain& entry = OstrelData::Factory::domains()[domain.domain()];
    if (domain.hasAuthenticator())
        value.setAuthenticator(*domain.authenticator());
    else if (entry.hasAuthenticator())
        value.setAuthenticator(*entry.authenticator());
    // An entry that moves to another customer leaves the old one's list.
    const std::string strOldCustomer = customerIdOf(entry);
    if (!strOldCustomer.empty() && strOldCustomer != strCustomer) {
        OstrelData::CustomerMap::iterator itOld = customerS.find(strOldCustomer);
        if (itOld != customerS.end())
            itOld->second.domains().erase(entry.domain());
    }
    entry = value;
    if (itCustomer != customerS.end())
        itCustomer->second.domains()[entry.domain()] = &entry;
}

// ---- the catalogue

void requireProductPermission()
{
    if (!OstrelData::Factory::hasProductPermission())
        OSTREL_RAISE(OstrelData::nNAX_PERMISSIONDENIED, "unauthorized action");
}

// The failures of a catalogue operation, as its caller sees them.
template <class TOperation>
void catalogueOperation(TOperation operation)
{
    try {
        detail::convertingDatabaseFailures(detail::g_ruleCatalogue, operation);
    } catch (const OstrelData::Exception&) {
        throw;
    } catch (...) {
        throw OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_UNKNOWN, "unknown", false);
    }
}

// Runs statements in a transaction on one pooled handle. Every statement of the operation runs on
// this handle: another handle would wait on the open write transaction (SQLite locks the database
// for the writer; a server checks a foreign key against our uncommitted row).
template <class TStatements>
void inTransaction(TStatements statements)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::inTransaction(connection.db(), statements);
}

void removeExactlyOne(int nRemoved)
{
    if (nRemoved != 1)
        OSTREL_RAISE(OstrelData::nNAX_DATABASE, "Did not select exactly one row");
}

// How a product, role or permission row is written: updated when its number is taken, or only
// ever inserted, for a number that must be new (another writer's row stays as it is: the insert
// fails on the key).
enum class RowWrite { upsert, insertOnly };

// Updates the row the query's key constraints address when the select finds it, else inserts it.
template <class TQuery>
void upsert(TQuery& query, DalDatabase& database, RowWrite write = RowWrite::upsert)
{
    Factory::Result result;
    if (write == RowWrite::upsert && query.select(result, database, VeskDal::SqlQueryBase::full) >= 1)
        query.update(database);
    else
        query.insert(database);
}

SqlInteger statusValue(const PRStatus& status)
{
    return SqlInteger(static_cast<int>(static_cast<PRStatus::PRStatusRaw>(status)));
}

// One more than the maximum the query selects; 1 when there is none.
template <class TQuery>
int nextNumber(TQuery& query)
{
    Factory::Result result;
    {
        OstrelDal::Connection connection = OstrelDal::connection();
        query.select(result, connection.db(), VeskDal::SqlQueryBase::max);
    }
    if (result.empty() || result.front().empty())
        return 1;
    const std::int64_t nMax = result.front().begin()->second.asInt64();
    if (nMax >= INT_MAX)
        OSTREL_RAISE(OstrelData::nNAX_DATABASE, "No number is free above " + std::to_string(nMax));
    return static_cast<int>(nMax < 0 ? 0 : nMax) + 1;
}

} // namespace

// ---- customers and domains

void Factory::createCustomer(Customer& customer)
{
    organisationStatement([&customer](DalDatabase& database) {
        OstrelDal::CustomerQuery query(OstrelDal::schema());
        query.columnCustomer().setValue(SqlText(customer.customer()));
        query.columnName().setValue(SqlText(customer.name()));
        query.insert(database);
    });
    fileCustomer(customer);
}

void Factory::updateCustomer(Customer& customer)
{
    int nUpdated = 0;
    organisationStatement([&](DalDatabase& database) {
        OstrelDal::CustomerQuery query(OstrelDal::schema());
        query.constrainCustomer(SqlText(customer.customer()));
        query.columnName().setValue(SqlText(customer.name()));
        nUpdated = query.update(database);
    });
    // No row: filing it would register a customer the database does not have.
    if (nUpdated == 0)
        OSTREL_RAISE(OstrelData::nNAX_CUSTOMERNOTFOUND, customer.customer());
    fileCustomer(customer);
}

void Factory::deleteCustomer(Customer& customer)
{
    const std::string strCustomer = customer.customer();
    organisationStatement([&strCustomer](DalDatabase& database) {
        OstrelDal::CustomerQuery query(OstrelDal::schema());
        query.constrainCustomer(SqlText(strCustomer));
        query.remove(database);
    });
    OstrelData::CustomerMap::iterator it = customers().find(strCustomer);
    if (it != customers().end())
        detail::retireEntry(customers(), it);
}

void Factory::createDomain(Domain& domain)
{
    const std::string strCustomer = domain.customer()->customer();
    organisationStatement([&](DalDatabase& database) {
        OstrelDal::DomainQuery query(OstrelDal::schema());
        query.columnCustomer().setValue(SqlText(strCustomer));
        query.columnDomain().setValue(SqlText(domain.domain()));
        query.columnDescription().setValue(SqlText(domain.description()));
        query.insert(database);
    });
    fileDomain(domain);
}

void Factory::updateDomain(Domain& domain)
{
    // A domain without customer (502) is refused before anything is written.
    static_cast<void>(domain.customer());
    int nUpdated = 0;
    organisationStatement([&](DalDatabase& database) {
        OstrelDal::DomainQuery query(OstrelDal::schema());
        query.constrainDomain(SqlText(domain.domain()));
        query.columnDescription().setValue(SqlText(domain.description()));
        nUpdated = query.update(database);
    });
    if (nUpdated == 0)
        OSTREL_RAISE(OstrelData::nNAX_DOMAINNOTFOUND, domain.domain());
    fileDomain(domain);
}

void Factory::deleteDomain(Domain& domain)
{
    const std::string strDomain = domain.domain();
    const std::string strCustomer = domain.customer()->customer();
    organisationStatement([&strDomain](DalDatabase& database) {
        OstrelDal::DomainQuery query(OstrelDal::schema());
        query.constrainDomain(SqlText(strDomain));
        query.remove(database);
    });
    OstrelData::CustomerMap::iterator itCustomer = customers().find(strCustomer);
    if (itCustomer != customers().end())
        itCustomer->second.domains().erase(strDomain);
    OstrelData::DomainMap::iterator it = domains().find(strDomain);
    if (it != domains().end()) {
        it->second.users(false).clear();
        detail::retireEntry(domains(), it);
    }
}

// ---- the catalogue

namespace {

// The statements of each catalogue operation on the one handle of its transaction. An operation
// whose statements include another's (a product and its roles, a cascade) runs them all in its
// own transaction, so that a failure anywhere leaves nothing of it behind.

void writeProductParam(DalDatabase& database, const Product& product, const std::string& strProfile,
                       const std::string& strName, const std::string& strValue)
{
    OstrelDal::ProductParamQuery query(OstrelDal::schema());
    query.columnProduct().setValue(SqlInteger(product.product()));
    query.columnProfile().setValue(SqlText(strProfile));
    query.columnParam().setValue(SqlText(strName));
    query.columnValue().setValue(SqlText(strValue));
    query.insert(database);
}

void removeProductParams(DalDatabase& database, const Product& product, const std::string& strProfile,
                         const std::string& strName, bool bCascade)
{
    OstrelDal::ProductParamQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    if (!bCascade) {
        query.constrainProfile(SqlText(strProfile));
        query.constrainParam(SqlText(strName));
    }
    const int nRemoved = query.remove(database);
    if (!bCascade)
        removeExactlyOne(nRemoved);
}

void writePermission(DalDatabase& database, const Permission& permission, const Product& product,
                     RowWrite write = RowWrite::upsert)
{
    OstrelDal::ProductPermissionQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    query.constrainPermission(SqlInteger(permission.permission()));
    query.columnProduct().setValue(SqlInteger(product.product()));
    query.columnPermission().setValue(SqlInteger(permission.permission()));
    query.columnDescription().setValue(SqlText(permission.description()));
    query.columnStatus().setValue(statusValue(permission.status()));
    upsert(query, database, write);
}

void writeRolePermission(DalDatabase& database, const Permission& permission, const Role& role,
                         const Product& product)
{
    OstrelDal::ProductRolePermissionQuery query(OstrelDal::schema());
    query.columnProduct().setValue(SqlInteger(product.product()));
    query.columnRole().setValue(SqlInteger(role.role()));
    query.columnPermission().setValue(SqlInteger(permission.permission()));
    query.columnStatus().setValue(statusValue(permission.status()));
    query.insert(database);
}

void removeRolePermissions(DalDatabase& database, const Permission& permission, bool bCascade)
{
    const Role& role = permission.role();
    OstrelDal::ProductRolePermissionQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(role.product().product()));
    query.constrainRole(SqlInteger(role.role()));
    if (!bCascade)
        query.constrainPermission(SqlInteger(permission.permission()));
    const int nRemoved = query.remove(database);
    if (!bCascade)
        removeExactlyOne(nRemoved);
}

void writeRole(DalDatabase& database, const Role& role, const Product& product, RowWrite write = RowWrite::upsert)
{
    // The role's old role permissions go first; they are addressed through the product given,
    // which the role need not carry itself.
    Role roleOfProduct(role);
    roleOfProduct.resetProduct(product);
    removeRolePermissions(database, Permission(roleOfProduct, 0, std::string(), PRStatus(PRStatus::statusDenied)),
                          true);

    OstrelDal::ProductRoleQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    query.constrainRole(SqlInteger(role.role()));
    query.columnProduct().setValue(SqlInteger(product.product()));
    query.columnRole().setValue(SqlInteger(role.role()));
    query.columnDescription().setValue(SqlText(role.description()));
    query.columnStatus().setValue(statusValue(role.status()));
    upsert(query, database, write);

    for (const auto& entry : role.permissions())
        writeRolePermission(database, entry.second, role, product);
}

void writeProduct(DalDatabase& database, const Product& product, RowWrite write = RowWrite::upsert)
{
    OstrelDal::ProductQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    query.columnProduct().setValue(SqlInteger(product.product()));
    query.columnDescription().setValue(SqlText(product.description()));
    upsert(query, database, write);

    removeProductParams(database, product, "", "", true);
    for (const auto& entryProfile : product.productInit()) {
        for (const auto& entryParam : entryProfile.second)
            writeProductParam(database, product, entryProfile.first, entryParam.first, entryParam.second);
    }
    for (const auto& entry : product.permissions())
        writePermission(database, entry.second, product, write);
    for (const auto& entry : product.roles())
        writeRole(database, entry.second, product, write);
}

void removePermission(DalDatabase& database, const Permission& permission, bool bCascade)
{
    const Product& product = permission.product();
    if (bCascade) {
        for (const auto& entry : product.roles()) {
            const OstrelData::PermissionMap& permissionS = entry.second.permissions();
            OstrelData::PermissionMap::const_iterator it = permissionS.find(permission.permission());
            if (it != permissionS.end())
                removeRolePermissions(database, it->second, false);
        }
    }
    OstrelDal::ProductPermissionQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    query.constrainPermission(SqlInteger(permission.permission()));
    removeExactlyOne(query.remove(database));
}

void removeRole(DalDatabase& database, const Role& role, bool bCascade)
{
    const Product& product = role.product();
    if (bCascade) {
        for (const auto& entry : role.permissions())
            removeRolePermissions(database, entry.second, true);
        // Team grants of the role go with it; customer and user grants are left alone.
        OstrelDal::TeamProductRoleQuery queryGrant(OstrelDal::schema());
        queryGrant.constrainProduct(SqlInteger(product.product()));
        queryGrant.constrainRole(SqlInteger(role.role()));
        queryGrant.remove(database);
    }
    OstrelDal::ProductRoleQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    query.constrainRole(SqlInteger(role.role()));
    removeExactlyOne(query.remove(database));
}

void removeProduct(DalDatabase& database, const Product& product, bool bCascade)
{
    if (bCascade) {
        // Permissions before roles: a permission's cascade removes exactly the role-permission
        // row each role holds, which a role's own cascade would already have removed.
        for (const auto& entry : product.permissions())
            removePermission(database, entry.second, true);
        for (const auto& entry : product.roles())
            removeRole(database, entry.second, true);
        OstrelDal::ProductParamQuery queryParam(OstrelDal::schema());
        queryParam.constrainProduct(SqlInteger(product.product()));
        queryParam.remove(database);
    }
    OstrelDal::ProductQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    removeExactlyOne(query.remove(database));
}

// One catalogue operation: the rights check, then its statements in one transaction.
template <class TStatements>
void catalogueTransaction(TStatements statements)
{
    requireProductPermission();
    catalogueOperation([&statements]() { inTransaction(statements); });
}

} // namespace

void Factory::insertProduct(const Product& product)
{
    catalogueTransaction([&](DalDatabase& database) { writeProduct(database, product); });
}

void Factory::addProduct(const Product& product)
{
    catalogueTransaction([&](DalDatabase& database) { writeProduct(database, product, RowWrite::insertOnly); });
}

void Factory::addPermission(const Permission& permission, const Product& product)
{
    catalogueTransaction(
        [&](DalDatabase& database) { writePermission(database, permission, product, RowWrite::insertOnly); });
}

void Factory::addRole(const Role& role, const Product& product)
{
    catalogueTransaction([&](DalDatabase& database) { writeRole(database, role, product, RowWrite::insertOnly); });
}

void Factory::insertProductParam(const Product& product, const std::string& strProfile, const std::string& strName,
                                 const std::string& strValue)
{
    catalogueTransaction(
        [&](DalDatabase& database) { writeProductParam(database, product, strProfile, strName, strValue); });
}

void Factory::insertPermission(const Permission& permission, const Product& product)
{
    catalogueTransaction([&](DalDatabase& database) { writePermission(database, permission, product); });
}

void Factory::insertRole(const Role& role, const Product& product)
{
    catalogueTransaction([&](DalDatabase& database) { writeRole(database, role, product); });
}

void Factory::insertRolePermission(const Permission& permission, const Role& role, const Product& product)
{
    catalogueTransaction([&](DalDatabase& database) { writeRolePermission(database, permission, role, product); });
}

void Factory::deleteProduct(const Product& product, bool bCascade)
{
    catalogueTransaction([&](DalDatabase& database) { removeProduct(database, product, bCascade); });
}

void Factory::deleteProductParam(const Product& product, const std::string& strProfile, const std::string& strName,
                                 bool bCascade)
{
    catalogueTransaction(
        [&](DalDatabase& database) { removeProductParams(database, product, strProfile, strName, bCascade); });
}

void Factory::deletePermission(const Permission& permission, bool bCascade)
{
    catalogueTransaction([&](DalDatabase& database) { removePermission(database, permission, bCascade); });
}

void Factory::deleteRole(const Role& role, bool bCascade)
{
    catalogueTransaction([&](DalDatabase& database) { removeRole(database, role, bCascade); });
}

void Factory::deleteRolePermission(const Permission& permission, bool bCascade)
{
    catalogueTransaction([&](DalDatabase& database) { removeRolePermissions(database, permission, bCascade); });
}

int Factory::nextProduct()
{
    OstrelDal::ProductQuery query(OstrelDal::schema());
    return nextNumber(query);
}

int Factory::nextRole(Product& product)
{
    OstrelDal::ProductRoleQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    return nextNumber(query);
}

int Factory::nextPermission(Product& product)
{
    OstrelDal::ProductPermissionQuery query(OstrelDal::schema());
    query.constrainProduct(SqlInteger(product.product()));
    return nextNumber(query);
}

} // namespace OstrelDataDB
