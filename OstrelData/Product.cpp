#include "OstrelData/Product.h"

namespace OstrelData {

Product::Product() : _nProduct(-1) {}

Product::Product(int nProduct) : _nProduct(nProduct) {}

Product::Product(int nProduct, const InitMapMap& initProduct, const std::string& strDescription)
    : _nProduct(nProduct), _strDescription(strDescription), _initProduct(initProduct)
{
}

Product::Product(const Product& other)
    : Base(other), _nProduct(other._nProduct), _strDescription(other._strDescription),
      _initProduct(other._initProduct), _roleS(other._roleS), _permissionS(other._permissionS)
{
    resetPR();
}

Product& Product::operator=(const Product& other)
{
    if (this != &other) {
        _nProduct = other._nProduct;
        _strDescription = other._strDescription;
        _initProduct = other._initProduct;
        _roleS = other._roleS;
        _permissionS = other._permissionS;
        resetPR();
    }
    return *this;
}

Product::~Product() = default;

bool Product::hasRole(const Role& role) const
{
    RoleMap::const_iterator it = _roleS.find(role.role());
    return it != _roleS.end() && it->second.hasRole();
}

bool Product::hasPermission(const Permission& permission) const
{
    PermissionMap::const_iterator it = _permissionS.find(permission.permission());
    return it != _permissionS.end() && it->second.hasPermission();
}

void Product::updateInitMap(const std::string& strProfile, const std::string& strOldParam,
                            const std::string& strName, const std::string& strValue, bool bAddNew)
{
    InitMapMap::iterator itProfile = _initProduct.find(strProfile);
    if (itProfile == _initProduct.end()) {
        if (!bAddNew)
            return;
        itProfile = _initProduct.emplace(strProfile, InitMap()).first;
    }
    InitMap& initS = itProfile->second;
    if (strOldParam != strName)
        initS.erase(strOldParam);
    if (bAddNew)
        initS[strName] = strValue;
}

void Product::resetPR()
{
    for (auto& entry : _roleS)
        entry.second.resetProduct(*this);
    for (auto& entry : _permissionS)
        entry.second.resetProduct(*this);
}

} // namespace OstrelData
