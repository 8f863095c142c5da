#ifndef OSTRELDATA_PRODUCT_H
#define OSTRELDATA_PRODUCT_H

#include <map>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/InitMap.h"
#include "OstrelData/Permission.h"
#include "OstrelData/Role.h"

namespace OstrelData {

// A product with its roles, permissions and per-profile parameters. The roles
// and permissions held in a product always point at the product that holds
// them: copying and assignment re-point them (resetPR).
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
    const InitMapMap& productInit() const { return _initProduct; }
    const RoleMap& roles() const { return _roleS; }
    RoleMap& roles() { return _roleS; }
    const PermissionMap& permissions() const { return _permissionS; }
    PermissionMap& permissions() { return _permissionS; }
    void setDescription(const std::string& strDescription) { _strDescription = strDescription; }
    void setProductInit(const InitMapMap& initProduct) { _initProduct = initProduct; }

    // Whether the stored role (permission) of the same number is granted; the
    // argument's own status plays no part.
    bool hasRole(const Role& role) const;
    bool hasPermission(const Permission& permission) const;

    // Adds, renames-and-sets or (bAddNew false) removes one parameter of one profile.
    void updateInitMap(const std::string& strProfile, const std::string& strOldParam, const std::string& strName,
                       const std::string& strValue, bool bAddNew);

    // Points every role and product-level permission at this product.
    void resetPR();

private:
    int _nProduct;
    std::string _strDescription;
    InitMapMap _initProduct;
    RoleMap _roleS;
    PermissionMap _permissionS;
};

// Products by number.
class OSTRELDATA_API ProductMap : public std::map<int, Product> {
public:
    using std::map<int, Product>::map;
};

} // namespace OstrelData

#endif
