#include <new>
#include <random>
#include <thread>
#include <vector>

#include "TestSupport.h"

using namespace OstrelData;

namespace {

const PRStatus revoked(PRStatus::statusRevoked);
const PRStatus denied(PRStatus::statusDenied);
const PRStatus granted(PRStatus::statusGranted);

} // namespace

TEST(PRStatus, FromIntMapsUnknownNumbersToDenied)
{
    EXPECT_EQ(PRStatus::statusGranted, PRStatus::fromInt(1));
    EXPECT_EQ(PRStatus::statusRevoked, PRStatus::fromInt(-1));
    EXPECT_EQ(PRStatus::statusDenied, PRStatus::fromInt(0));
    EXPECT_EQ(PRStatus::statusDenied, PRStatus::fromInt(7));
    EXPECT_EQ(PRStatus::statusDenied, PRStatus::fromInt(-2));
    EXPECT_EQ(PRStatus::statusDenied, PRStatus());
}

TEST(PRStatus, CombinationFollowsTheTable)
{
    const PRStatus aStatus[] = {revoked, denied, granted};
    // Rows: this; columns: other.
    const PRStatus::PRStatusRaw aaExpected[3][3] = {
        {PRStatus::statusRevoked, PRStatus::statusRevoked, PRStatus::statusRevoked},
        {PRStatus::statusRevoked, PRStatus::statusDenied, PRStatus::statusGranted},
        {PRStatus::statusRevoked, PRStatus::statusGranted, PRStatus::statusGranted},
    };
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            PRStatus s = aStatus[i];
            s += aStatus[j];
            EXPECT_EQ(aaExpected[i][j], s) << i << "," << j;
            EXPECT_EQ(aaExpected[i][j], aStatus[i] + aStatus[j]) << i << "," << j;
        }
    }
}

TEST(PRStatus, PlusLeavesItsOperandsAlone)
{
    PRStatus left(granted);
    PRStatus sum = left + revoked;
    EXPECT_EQ(PRStatus::statusRevoked, sum);
    EXPECT_EQ(PRStatus::statusGranted, left);
}

TEST(PRStatus, UnknownRawValueIsLeftUnchanged)
{
    PRStatus odd(static_cast<PRStatus::PRStatusRaw>(5));
    odd += granted;
    EXPECT_EQ(5, static_cast<int>(static_cast<PRStatus::PRStatusRaw>(odd)));
    PRStatus s(denied);
    s += PRStatus(static_cast<PRStatus::PRStatusRaw>(5));
    EXPECT_EQ(PRStatus::statusDenied, s);
}

class ProductTest : public ::testing::Test {
protected:
    // Product 5 with role 1 (granted, carrying permission 7) and 2 (denied),
    // permissions 7 (granted) and 8 (revoked).
    void SetUp() override
    {
        product = Product(5, InitMapMap(), "Five");
        product.roles().emplace(1, Role(product, 1, "One", granted));
        product.roles().emplace(2, Role(product, 2, "Two", denied));
        product.permissions().emplace(7, Permission(product, 7, "Seven", granted));
        product.permissions().emplace(8, Permission(product, 8, "Eight", revoked));
        Role& role = product.roles().at(1);
        role.permissions().emplace(7, Permission(role, 7, "Seven", granted));
    }

    static void expectOwnedBy(const Product& owner)
    {
        for (const auto& entry : owner.roles())
            EXPECT_EQ(&owner, &entry.second.product());
        for (const auto& entry : owner.permissions())
            EXPECT_EQ(&owner, &entry.second.product());
    }

    Product product;
};

TEST_F(ProductTest, DefaultProductHasNumberMinusOne)
{
    EXPECT_EQ(-1, Product().product());
    EXPECT_EQ(3, Product(3).product());
    EXPECT_TRUE(Product(3).roles().empty());
}

TEST_F(ProductTest, CopiedProductsRolesAndPermissionsPointAtTheCopy)
{
    Product copy(product);
    expectOwnedBy(copy);
    Product assigned;
    assigned = product;
    expectOwnedBy(assigned);
    expectOwnedBy(product);
    ProductMap productS;
    productS.emplace(5, product);
    ProductMap copyS(productS);
    expectOwnedBy(copyS.at(5));
}

TEST_F(ProductTest, CopiedRoleKeepsItsPermissionsLinkedToItself)
{
    Product copy(product);
    const Role& role = copy.roles().at(1);
    EXPECT_EQ(&role, &role.permissions().at(7).role());
    Role standalone(product.roles().at(1));
    EXPECT_EQ(&standalone, &standalone.permissions().at(7).role());
}

TEST_F(ProductTest, SharedRolePermissionsOutliveTheirSourceAndUnshareOnWrite)
{
    auto psource = std::make_unique<Product>(product);
    psource->roles().at(1).shareCarriedPermissions();
    Product copy(*psource);
    Role assigned;
    assigned = copy.roles().at(1);
    psource.reset();
    // What the copies share belongs to a twin that lives as long as they do.
    const Role& shared = static_cast<const Product&>(copy).roles().at(1);
    ASSERT_TRUE(shared.sharesCarriedPermissionsWith(assigned));
    const Role& twin = shared.permissions().at(7).role();
    EXPECT_NE(&shared, &twin);
    EXPECT_EQ(1, twin.role());
    EXPECT_EQ("One", twin.description());
    EXPECT_EQ(5, twin.product().product());
    EXPECT_EQ("Five", twin.product().description());
    // Status changes leave the sharing alone; asking for the permissions writable ends it.
    copy.roles().at(1).setStatus(revoked);
    EXPECT_TRUE(copy.roles().at(1).sharesCarriedPermissionsWith(assigned));
    Role& own = copy.roles().at(1);
    own.permissions().at(7).setStatus(denied);
    EXPECT_FALSE(own.sharesCarriedPermissionsWith(assigned));
    EXPECT_EQ(&own, &own.permissions().at(7).role());
    EXPECT_EQ(PRStatus::statusGranted, assigned.permissions().at(7).status());
}

TEST_F(ProductTest, CopiesShareAFrozenSetThatOutlivesTheSourceUntilTheyWrite)
{
    auto psource = std::make_unique<Product>(product);
    psource->updateInitMap("office", "", "mode", "fast", true);
    psource->shareWithCopies();
    expectOwnedBy(*psource);  // the source keeps its own maps
    Product copy(*psource);
    ProductMap productS;
    productS.emplace(5, copy);
    Product assigned;
    assigned = productS.at(5);
    psource.reset();
    for (const Product* pshared : {&copy, &productS.at(5), &assigned}) {
        ASSERT_TRUE(pshared->readsShared());
        EXPECT_TRUE(pshared->sharesWith(copy));
        const Role& role = pshared->roles().at(1);
        EXPECT_EQ(5, role.product().product());
        EXPECT_EQ("Five", role.product().description());
        EXPECT_EQ(5, pshared->permissions().at(8).product().product());
        EXPECT_EQ(1, role.permissions().at(7).role().role());
        EXPECT_EQ("fast", pshared->productInit().at("office").at("mode"));
        EXPECT_TRUE(pshared->hasRole(Role(1, "", denied)));
        EXPECT_FALSE(pshared->hasPermission(Permission(8, "", granted)));
    }
    // Offering again (a catalogue entry put back from a copy) owns its maps and offers the same set.
    Product restored(productS.at(5));
    restored.shareWithCopies();
    EXPECT_FALSE(restored.readsShared());
    expectOwnedBy(restored);
    EXPECT_TRUE(restored.sharesWith(productS.at(5)));
    // Writing gives the writer maps of its own, pointing at it; the others keep the frozen set.
    copy.roles().at(1).setStatus(revoked);
    EXPECT_FALSE(copy.readsShared());
    expectOwnedBy(copy);
    EXPECT_EQ("fast", copy.productInit().at("office").at("mode"));
    EXPECT_TRUE(productS.at(5).hasRole(Role(1, "", denied)));
    EXPECT_FALSE(copy.hasRole(Role(1, "", denied)));
    assigned.updateInitMap("office", "mode", "mode", "slow", true);
    EXPECT_EQ("fast", productS.at(5).productInit().at("office").at("mode"));
    EXPECT_TRUE(assigned.hasRole(Role(1, "", denied)));

    // A source that hands out its maps writable stops offering them: they may change.
    Product source(product);
    source.shareWithCopies();
    source.permissions().at(8).setStatus(granted);
    const Product later(source);
    EXPECT_FALSE(later.sharesWith(source));
    expectOwnedBy(later);
    EXPECT_TRUE(later.hasPermission(Permission(8, "", denied)));
}

TEST_F(ProductTest, StatusesMergedIntoACopyAreKeptAsideUntilItsMapsAreMadeOnceInPlace)
{
    ProductMap productS;
    {
        Product source(product);
        source.permissions().at(7).setStatus(denied);
        source.shareWithCopies();
        productS.emplace(5, source);  // the last to share once the source goes
    }
    ProductMap revokedS(productS);
    ProductMap lackingS(productS);
    revokedS.at(5).mergeRoleStatus(1, revoked);  // a role the set grants, revoked: folds nothing
    Factory::mergeRolePermissionsIntoPermissions(revokedS);
    EXPECT_FALSE(revokedS.at(5).hasPermission(Permission(7, "", granted)));
    Product& copy = productS.at(5);
    copy.mergeRoleStatus(2, granted);
    copy.mergeRoleStatus(9, granted);  // no such role: nothing is added
    copy.mergePermissionStatus(8, granted);
    Factory::mergeRolePermissionsIntoPermissions(productS);  // role 1 is granted: 7 folds in
    const Product& held = copy;
    EXPECT_TRUE(held.readsShared());
    EXPECT_TRUE(held.hasRole(Role(2, "", denied)));
    EXPECT_TRUE(held.hasPermission(Permission(7, "", denied)));
    EXPECT_FALSE(held.hasPermission(Permission(8, "", granted)));
    const Product before(held);
    EXPECT_TRUE(before.hasRole(Role(2, "", denied)));
    // Offered on, its own statuses go with what it offers.
    Product offered(held);
    offered.shareWithCopies();
    EXPECT_FALSE(offered.sharesWith(held));
    EXPECT_TRUE(Product(offered).hasRole(Role(2, "", denied)));
    // A grant of a number the set lacks changes no answer, but what a read hands out is the copy's.
    Product& lacking = lackingS.at(5);
    lacking.mergeRoleStatus(9, granted);
    EXPECT_EQ(&lacking, &static_cast<const Product&>(lacking).roles().at(1).product());

    // Concurrent first reads make one set of maps, pointing at the product, with the statuses.
    std::vector<const RoleMap*> madeS(4, nullptr);
    std::vector<std::thread> threadS;
    for (auto& pmade : madeS)
        threadS.emplace_back([&held, &pmade]() { pmade = &held.roles(); });
    for (auto& thread : threadS)
        thread.join();
    for (const RoleMap* pmade : madeS)
        EXPECT_EQ(&held.roles(), pmade);
    expectOwnedBy(held);
    EXPECT_EQ(0u, held.roles().count(9));
    EXPECT_EQ(PRStatus::statusGranted, held.roles().at(2).status());
    EXPECT_EQ(PRStatus::statusGranted, held.permissions().at(7).status());
    EXPECT_EQ(PRStatus::statusRevoked, held.permissions().at(8).status());

    // Writing makes them its own maps: references already handed out stay good.
    const RoleMap& made = held.roles();
    copy.mergeRoleStatus(1, revoked);
    EXPECT_FALSE(copy.readsShared());
    EXPECT_EQ(&made, &held.roles());
    EXPECT_EQ(PRStatus::statusRevoked, made.at(1).status());
    EXPECT_TRUE(before.hasRole(Role(1, "", denied)));
    EXPECT_EQ(PRStatus::statusGranted, before.roles().at(1).status());

    // Granted only through a status kept aside, a role folds in what it carries.
    Product carrier(product);
    Role& two = carrier.roles().at(2);
    two.permissions().emplace(7, Permission(two, 7, "Seven", granted));
    carrier.roles().at(1).setStatus(denied);
    carrier.permissions().at(7).setStatus(denied);
    carrier.shareWithCopies();
    ProductMap carrierS{{5, carrier}};
    Factory::mergeRolePermissionsIntoPermissions(carrierS);
    EXPECT_FALSE(carrierS.at(5).hasPermission(Permission(7, "", denied)));
    carrierS.at(5).mergeRoleStatus(2, granted);
    Factory::mergeRolePermissionsIntoPermissions(carrierS);
    EXPECT_TRUE(carrierS.at(5).hasPermission(Permission(7, "", denied)));

    // Folding into the last copy to share, its maps made: the set goes, the walk reads its own maps.
    ProductMap lastS;
    lastS.emplace(5, Product(product)).first->second.shareWithCopies();
    lastS.at(5) = Product(lastS.at(5));
    lastS.at(5).mergeRoleStatus(2, granted);
    EXPECT_EQ(2u, static_cast<const Product&>(lastS.at(5)).roles().size());
    Factory::mergeRolePermissionsIntoPermissions(lastS);
    EXPECT_EQ(PRStatus::statusGranted, lastS.at(5).permissions().at(7).status());
}

TEST_F(ProductTest, FailedAssignmentLeavesTheProductAsItWas)
{
    Product source(product);
    source.shareWithCopies();
    Product withStatuses(source);
    withStatuses.mergeRoleStatus(1, revoked);
    const Product* const apother[] = {&product, &withStatuses};
    for (const Product* pother : apother) {
        for (long nAllocations = 0;; ++nAllocations) {
            Product target(source);
            target.mergeRoleStatus(2, granted);
            const Product& read = target;
            ASSERT_EQ(2u, read.roles().size());  // maps made
            ostreltest::g_nAllocationsLeft = nAllocations;
            try {
                target = *pother;
                ostreltest::g_nAllocationsLeft = -1;
                break;
            } catch (const std::bad_alloc&) {
                ostreltest::g_nAllocationsLeft = -1;
            }
            EXPECT_TRUE(read.readsShared());
            EXPECT_TRUE(read.hasRole(Role(2, "", denied)));
            EXPECT_EQ(PRStatus::statusGranted, read.roles().at(2).status());
            EXPECT_EQ(&read, &read.roles().at(1).product());
        }
    }
}

// A copy that keeps statuses aside answers as a copy that merges into maps of its own, whatever the
// set, the carried permissions (of numbers the product may lack), the order of the grants and how
// many it keeps aside (from none to more than it keeps in place); and so does a copy of it.
TEST(ProductAside, AnswersAsACopyWithItsOwnMaps)
{
    std::mt19937 random(17);
    // 2 is no status the combination knows: it must be kept as it is, not read as granted.
    const PRStatus statusS[] = {revoked, denied, granted, PRStatus(static_cast<PRStatus::PRStatusRaw>(2))};
    auto anyStatus = [&]() { return statusS[random() % 4]; };
    for (int nRound = 0; nRound < 300; ++nRound) {
        Product source(5, InitMapMap(), "Five");
        const int nNumbers = nRound % 2 == 0 ? 8 : 40;
        for (int n = 0; n < nNumbers; ++n) {
            if (random() % 4 == 0)
                continue;  // gaps: grants and carried permissions may name what the set lacks
            source.permissions().emplace(n, Permission(source, n, "", anyStatus()));
            Role& role = source.roles().emplace(n, Role(source, n, "", anyStatus())).first->second;
            for (int c = static_cast<int>(random() % 4); c > 0; --c) {
                const int nCarried = static_cast<int>(random() % (nNumbers + 1));
                role.permissions()[nCarried] = Permission(role, nCarried, "", anyStatus());
            }
        }
        source.shareWithCopies();
        ProductMap asideS{{5, source}};
        ProductMap ownS{{5, source}};
        ownS.at(5).roles();  // maps of its own from the start
        for (int g = static_cast<int>(random() % (nNumbers - 2)); g > 0; --g) {
            const int n = static_cast<int>(random() % (nNumbers + 1));
            const PRStatus status = anyStatus();
            const bool bRole = random() % 2 == 0;
            for (ProductMap* pproductS : {&asideS, &ownS}) {
                if (bRole)
                    pproductS->at(5).mergeRoleStatus(n, status);
                else
                    pproductS->at(5).mergePermissionStatus(n, status);
            }
        }
        Factory::mergeRolePermissionsIntoPermissions(asideS);
        Factory::mergeRolePermissionsIntoPermissions(ownS);
        const Product& own = ownS.at(5);
        const Product copy(asideS.at(5));
        for (const Product* paside : {static_cast<const Product*>(&asideS.at(5)), &copy}) {
            const Product& aside = *paside;
            ASSERT_TRUE(aside.readsShared());
            // Asked before and after a read makes the copy's maps.
            for (int nPass = 0; nPass < 2; ++nPass) {
                for (int n = 0; n <= nNumbers; ++n) {
                    ASSERT_EQ(own.hasRole(Role(n, "", denied)), aside.hasRole(Role(n, "", denied)))
                        << nRound << " " << n;
                    ASSERT_EQ(own.hasPermission(Permission(n, "", denied)),
                              aside.hasPermission(Permission(n, "", denied)))
                        << nRound << " " << n;
                }
                for (const auto& entry : own.permissions())
                    ASSERT_EQ(entry.second.status(), aside.permissions().at(entry.first).status()) << nRound;
            }
        }
    }
}

TEST_F(ProductTest, StoredStatusDecidesNotTheArgument)
{
    EXPECT_TRUE(product.hasRole(Role(product, 1, "", revoked)));
    EXPECT_FALSE(product.hasRole(Role(product, 2, "", granted)));
    EXPECT_FALSE(product.hasRole(Role(product, 3, "", granted)));
    EXPECT_TRUE(product.hasPermission(Permission(product, 7, "", denied)));
    EXPECT_FALSE(product.hasPermission(Permission(product, 8, "", granted)));
    EXPECT_FALSE(product.hasPermission(Permission(product, 9, "", granted)));
}

TEST_F(ProductTest, UpdateInitMapAddsRenamesAndRemoves)
{
    product.updateInitMap("dev", "", "host", "h1", false);
    EXPECT_TRUE(product.productInit().empty());

    product.updateInitMap("dev", "", "host", "h1", true);
    ASSERT_EQ(1u, product.productInit().count("dev"));
    EXPECT_EQ("h1", product.productInit().at("dev").at("host"));

    product.updateInitMap("dev", "host", "server", "h2", true);
    EXPECT_EQ(0u, product.productInit().at("dev").count("host"));
    EXPECT_EQ("h2", product.productInit().at("dev").at("server"));

    product.updateInitMap("dev", "server", "server", "h3", true);
    EXPECT_EQ("h3", product.productInit().at("dev").at("server"));

    // Without bAddNew only removal happens, and only of a differently named parameter.
    product.updateInitMap("dev", "server", "server", "ignored", false);
    EXPECT_EQ("h3", product.productInit().at("dev").at("server"));
    product.updateInitMap("dev", "server", "", "ignored", false);
    EXPECT_TRUE(product.productInit().at("dev").empty());
}

TEST(RoleAndPermission, WithoutProductFailWithTheirLegend)
{
    Role role(4, "Auditor", granted);
    EXPECT_OSTREL_THROW(role.product(), nNAX_NOPRODUCTSET, "Role 4 - Auditor");
    EXPECT_EQ(-1, Role().role());
    EXPECT_EQ(PRStatus::statusDenied, Role().status());

    Permission permission(9, "Read", granted);
    EXPECT_OSTREL_THROW(permission.product(), nNAX_NOPRODUCTSET, "Permission 9 - Read");
    EXPECT_OSTREL_THROW(permission.role(), nNAX_NOROLESET, "Permission 9 - Read");
    EXPECT_FALSE(permission.hasRole());
    EXPECT_EQ(-1, Permission().permission());

    Permission fromRole(role, 3, "Write", denied);
    EXPECT_TRUE(fromRole.hasRole());
    EXPECT_EQ(&role, &fromRole.role());
    EXPECT_OSTREL_THROW(fromRole.product(), nNAX_NOPRODUCTSET, "Permission 3 - Write");
    Product product(1);
    fromRole.resetProduct(product);
    EXPECT_EQ(&product, &fromRole.product());
}

TEST(RoleAndPermission, HeldExactlyWhenGranted)
{
    EXPECT_TRUE(Role(1, "", granted).hasRole());
    EXPECT_FALSE(Role(1, "", denied).hasRole());
    EXPECT_FALSE(Role(1, "", revoked).hasRole());
    EXPECT_TRUE(Permission(1, "", granted).hasPermission());
    EXPECT_FALSE(Permission(1, "", denied).hasPermission());
    EXPECT_FALSE(Permission(1, "", revoked).hasPermission());
}

TEST(Merge, ChangesOnlyWhatTheTargetHolds)
{
    PermissionMap target;
    target.emplace(7, Permission(7, "", denied));
    target.emplace(8, Permission(8, "", granted));
    PermissionMap source;
    source.emplace(7, Permission(7, "", granted));
    source.emplace(8, Permission(8, "", revoked));
    source.emplace(9, Permission(9, "", granted));
    target.merge(source);
    EXPECT_EQ(PRStatus::statusGranted, target.at(7).status());
    EXPECT_EQ(PRStatus::statusRevoked, target.at(8).status());
    EXPECT_EQ(0u, target.count(9));

    RoleMap roleS;
    roleS.emplace(1, Role(1, "", granted));
    roleS.merge(Role(1, "", denied));
    EXPECT_EQ(PRStatus::statusGranted, roleS.at(1).status());
    roleS.merge(Role(1, "", revoked));
    EXPECT_EQ(PRStatus::statusRevoked, roleS.at(1).status());
    roleS.merge(Role(2, "", granted));
    EXPECT_EQ(1u, roleS.size());
    RoleMap grantS;
    grantS.emplace(1, Role(1, "", granted));
    roleS.merge(grantS);
    EXPECT_EQ(PRStatus::statusRevoked, roleS.at(1).status());
}

TEST(Profile, KeepsNameDefaultFlagAndParameters)
{
    Profile profile("dev", true);
    ProductInitMap productS;
    productS[3]["host"] = "h";
    profile.setProducts(productS);
    Profile copy(profile);
    EXPECT_EQ("dev", copy.profile());
    EXPECT_TRUE(copy.isDefault());
    EXPECT_EQ("h", copy.products().at(3).at("host"));
    EXPECT_FALSE(Profile().isDefault());
    EXPECT_EQ("", Profile().profile());
}
