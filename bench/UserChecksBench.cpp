// Role and permission checks on a user holding 50 products of 50 roles and 50
// permissions each, and the cost of copying such a user.

#include <benchmark/benchmark.h>

#include <vector>

#include "OstrelData/OstrelData.h"

using namespace OstrelData;

namespace {

constexpr int nProducts = 50;
constexpr int nRoles = 50;
constexpr int nPermissions = 50;
constexpr int nPermissionsPerRole = 5;

struct Fixture {
    Domain domain{Customer::allCustomers, "acme"};
    User user{domain, "jdoe", "John Doe", "", ""};
    // The catalogue the probes point at, as the callers' roles and permissions would.
    ProductMap catalogueS;
    std::vector<Role> roleHitS, roleMissS;
    std::vector<Permission> permissionHitS, permissionMissS;

    Fixture()
    {
        ProductMap& productS = user.products();
        for (int nProduct = 0; nProduct < nProducts; ++nProduct) {
            Product& product = productS[nProduct] = Product(nProduct, InitMapMap(), "Product");
            for (int nPermission = 0; nPermission < nPermissions; ++nPermission)
                product.permissions()[nPermission] =
                    Permission(product, nPermission, "Permission", PRStatus::statusGranted);
            for (int nRole = 0; nRole < nRoles; ++nRole) {
                Role& role = product.roles()[nRole] = Role(product, nRole, "Role", PRStatus::statusGranted);
                for (int i = 0; i < nPermissionsPerRole; ++i) {
                    int nPermission = (nRole + i) % nPermissions;
                    role.permissions()[nPermission] = Permission(role, nPermission, "", PRStatus::statusGranted);
                }
            }
        }
        for (int nProduct = 0; nProduct < nProducts + 10; ++nProduct)
            catalogueS[nProduct] = Product(nProduct);
        // Probes spread over every product; misses are numbers the product lacks
        // or products the user does not hold.
        for (int i = 0; i < 256; ++i) {
            const Product& held = catalogueS.at((i * 7) % nProducts);
            const Product& unheld = catalogueS.at(nProducts + i % 10);
            roleHitS.emplace_back(held, (i * 13) % nRoles, "", PRStatus::statusDenied);
            permissionHitS.emplace_back(held, (i * 11) % nPermissions, "", PRStatus::statusDenied);
            if (i % 2 == 0) {
                roleMissS.emplace_back(held, nRoles + i, "", PRStatus::statusDenied);
                permissionMissS.emplace_back(held, nPermissions + i, "", PRStatus::statusDenied);
            } else {
                roleMissS.emplace_back(unheld, i % nRoles, "", PRStatus::statusDenied);
                permissionMissS.emplace_back(unheld, i % nPermissions, "", PRStatus::statusDenied);
            }
        }
    }
};

Fixture& fixture()
{
    static Fixture s_fixture;
    return s_fixture;
}

template <class Probe, class Check>
void runChecks(benchmark::State& state, const std::vector<Probe>& probeS, bool bExpected, Check check)
{
    const User& user = fixture().user;
    size_t i = 0;
    for (auto _ : state) {
        bool bHeld = check(user, probeS[i]);
        if (bHeld != bExpected)
            state.SkipWithError("unexpected answer");
        benchmark::DoNotOptimize(bHeld);
        i = (i + 1) % probeS.size();
    }
}

void BM_HasPermissionHit(benchmark::State& state)
{
    runChecks(state, fixture().permissionHitS, true,
              [](const User& user, const Permission& permission) { return user.hasPermission(permission); });
}

void BM_HasPermissionMiss(benchmark::State& state)
{
    runChecks(state, fixture().permissionMissS, false,
              [](const User& user, const Permission& permission) { return user.hasPermission(permission); });
}

void BM_HasRoleHit(benchmark::State& state)
{
    runChecks(state, fixture().roleHitS, true, [](const User& user, const Role& role) { return user.hasRole(role); });
}

void BM_HasRoleMiss(benchmark::State& state)
{
    runChecks(state, fixture().roleMissS, false, [](const User& user, const Role& role) { return user.hasRole(role); });
}

// A copy shares the product map with its source.
void BM_CopyUser(benchmark::State& state)
{
    const User& user = fixture().user;
    for (auto _ : state) {
        User copy(user);
        benchmark::DoNotOptimize(&copy);
    }
}

// A copy that is then written pays for its own product map.
void BM_CopyUserThenWrite(benchmark::State& state)
{
    const User& user = fixture().user;
    for (auto _ : state) {
        User copy(user);
        ProductMap& productS = copy.products();
        benchmark::DoNotOptimize(&productS);
    }
}

} // namespace

BENCHMARK(BM_HasPermissionHit);
BENCHMARK(BM_HasPermissionMiss);
BENCHMARK(BM_HasRoleHit);
BENCHMARK(BM_HasRoleMiss);
BENCHMARK(BM_CopyUser);
BENCHMARK(BM_CopyUserThenWrite)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
