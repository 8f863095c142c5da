#ifndef OSTRELDATA_PRODUCT_H
#define OSTRELDATA_PRODUCT_H

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/InitMap.h"
#include "OstrelData/Permission.h"
#include "OstrelData/Role.h"

namespace OstrelData {

class ProductMap;

// A product with its roles, permissions and per-profile parameters. The roles
// and permissions held in a product point at the product that holds them:
// copying and assignment re-point them (resetPR). The one exception is a copy of
// a product that shares with its copies (shareWithCopies): until the copy asks
// for anything writable, its roles and permissions are a frozen set whose
// product() is a twin of the same number and description. Statuses merged into
// such a copy (mergeRoleStatus, mergePermissionStatus) are kept aside instead of
// copying the set: hasRole and hasPermission read them there, and the first
// const roles() or permissions() makes the copy its maps once, with them, in
// place (so concurrent const readers are safe and every reference handed out
// stays good for the product's life, as an owned map's does).
class OSTRELDATA_API Product : public Base {
public:
    Product();
    explicit Product(int nProduct);
    Product(int nProduct, const InitMapMap& initProduct, const std::string& strDescription);
    Product(const Product& other);
    Product& operator=(const Product& other);
    ~Product() override;

    int product() const { return _nProduct; }
    const std::string& description() const { return _strDescription; }
    const InitMapMap& productInit() const;
    const RoleMap& roles() const;
    const PermissionMap& permissions() const;
    // Writable maps of this product's own: a copy that shares them copies them
    // first, and a product that offers them to its copies stops offering (the
    // copies made until then keep what they share).
    RoleMap& roles();
    PermissionMap& permissions();
    void setDescription(const std::string& strDescription) { _strDescription = strDescription; }
    void setProductInit(const InitMapMap& initProduct);

    // Whether the stored role (permission) of the same number is granted; the
    // argument's own status plays no part.
    bool hasRole(const Role& role) const;
    bool hasPermission(const Permission& permission) const;

    // Adds, renames-and-sets or (bAddNew false) removes one parameter of one profile.
    void updateInitMap(const std::string& strProfile, const std::string& strOldParam, const std::string& strName,
                       const std::string& strValue, bool bAddNew);

    // Calls visit with each role (permission) in number order and the status it
    // holds here, without making maps: for readers, such as encoders, that need
    // not pay for a copy's own maps. While statuses are kept aside the role
    // handed over is the frozen set's (its own status() and product() are the
    // set's); its number, description and carried permissions are this copy's.
    void forEachRole(const std::function<void(const Role&, const PRStatus&)>& visit) const;
    void forEachPermission(const std::function<void(const Permission&, const PRStatus&)>& visit) const;

    // Combines status into the stored role (permission) of that number, as
    // RoleMap::merge does; never adds one. A copy that reads a frozen set keeps
    // reading it and keeps the status aside.
    void mergeRoleStatus(int nRole, const PRStatus& status);
    void mergePermissionStatus(int nPermission, const PRStatus& status);
    // Combines the permissions each granted role carries into the product's
    // own permissions of the same numbers (never adding any).
    void mergeGrantedRolePermissions();

    // Points every role and product-level permission at this product.
    void resetPR();

    // Lets every later copy share one frozen set of this product's roles,
    // permissions and parameters instead of copying them, until a copy asks for
    // them writable: for a catalogue whose products every team and authorised
    // user copies. This product keeps its own. The frozen set's roles and
    // permissions point at a twin of this product (its number and description
    // now, without roles or permissions) that lives as long as anyone shares
    // them, so copies outlive the catalogue safely. The roles' carried
    // permissions are shared as well (Role::shareCarriedPermissions). A
    // product that reads a frozen set takes maps of its own and offers that set.
    // Writes through a map reference taken before this call, and a description
    // set after it, do not reach the frozen set: take references afresh.
    void shareWithCopies();
    // The same for every product of a catalogue, with what the copies read of each set laid out
    // beside the next set's, apart from the maps.
    static void shareCatalogueWithCopies(ProductMap& productS);
    // Whether this product and other read or offer one frozen set (for tests and diagnostics).
    bool sharesWith(const Product& other) const { return _pshared != nullptr && _pshared == other._pshared; }
    // Whether this product reads a frozen set rather than maps of its own
    // (with any statuses merged into it kept aside).
    bool readsShared() const { return _bReadsShared; }

private:
    struct Shared;
    struct Statuses;

    void ownMaps();
    void copySharedMaps();
    bool readyToOffer();
    std::shared_ptr<Shared> newSharedStatuses() const;
    void offer(std::shared_ptr<Shared> pshared);
    void makeMaps() const;
    bool keepsStatusesAside() const;
    Statuses& statusesAside();

    int _nProduct;
    bool _bReadsShared;  // _pshared is what this product reads; otherwise what it offers its copies
    std::string _strDescription;
    InitMapMap _initProduct;
    // Made by a const read while statuses are kept aside (makeMaps).
    mutable RoleMap _roleS;
    mutable PermissionMap _permissionS;
    std::shared_ptr<const Shared> _pshared;
    std::unique_ptr<Statuses> _pstatuses;  // only while reading a frozen set
};

// Products by number.
class OSTRELDATA_API ProductMap : public std::map<int, Product> {
public:
    using std::map<int, Product>::map;
};

} // namespace OstrelData

#endif
