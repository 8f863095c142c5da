#include "OstrelData/Product.h"

namespace OstrelData {

// What copies of a product share: a frozen copy of its maps, whose roles and
// permissions point at twin.
struct Product::Shared {
    Product twin;
    InitMapMap initProduct;
    RoleMap roleS;
    PermissionMap permissionS;
};

Product::Product() : _nProduct(-1), _bReadsShared(false) {}

Product::Product(int nProduct) : _nProduct(nProduct), _bReadsShared(false) {}

Product::Product(int nProduct, const InitMapMap& initProduct, const std::string& strDescription)
    : _nProduct(nProduct), _bReadsShared(false), _strDescription(strDescription), _initProduct(initProduct)
{
}

Product::Product(const Product& other)
    : Base(other), _nProduct(other._nProduct), _bReadsShared(other._pshared != nullptr),
      _strDescription(other._strDescription), _pshared(other._pshared)
{
    if (!_bReadsShared) {
        _initProduct = other._initProduct;
        _roleS = other._roleS;
        _permissionS = other._permissionS;
        resetPR();
    }
}

Product& Product::operator=(const Product& other)
{
    if (this != &other) {
        _nProduct = other._nProduct;
        _strDescription = other._strDescription;
        // Taken before the maps are let go: other may be part of what this product holds.
        std::shared_ptr<const Shared> pshared = other._pshared;
        if (pshared) {
            InitMapMap().swap(_initProduct);
            RoleMap().swap(_roleS);
            PermissionMap().swap(_permissionS);
        } else {
            _initProduct = other._initProduct;
            _roleS = other._roleS;
            _permissionS = other._permissionS;
            resetPR();
        }
        _bReadsShared = pshared != nullptr;
        _pshared = std::move(pshared);
    }
    return *this;
}

Product::~Product() = default;

const InitMapMap& Product::productInit() const
{
    return _bReadsShared ? _pshared->initProduct : _initProduct;
}

const RoleMap& Product::roles() const
{
    return _bReadsShared ? _pshared->roleS : _roleS;
}

const PermissionMap& Product::permissions() const
{
    return _bReadsShared ? _pshared->permissionS : _permissionS;
}

RoleMap& Product::roles()
{
    ownMaps();
    return _roleS;
}

PermissionMap& Product::permissions()
{
    ownMaps();
    return _permissionS;
}

void Product::setProductInit(const InitMapMap& initProduct)
{
    ownMaps();
    _initProduct = initProduct;
}

void Product::ownMaps()
{
    if (_bReadsShared)
        copySharedMaps();
    _pshared.reset();
}

// Copied aside first: if a copy fails, this product still reads the frozen set whole.
void Product::copySharedMaps()
{
    InitMapMap initProduct(_pshared->initProduct);
    RoleMap roleS(_pshared->roleS);
    PermissionMap permissionS(_pshared->permissionS);
    _initProduct.swap(initProduct);
    _roleS.swap(roleS);
    _permissionS.swap(permissionS);
    _bReadsShared = false;
    resetPR();
}

bool Product::hasRole(const Role& role) const
{
    const RoleMap& roleS = roles();
    RoleMap::const_iterator it = roleS.find(role.role());
    return it != roleS.end() && it->second.hasRole();
}

bool Product::hasPermission(const Permission& permission) const
{
    const PermissionMap& permissionS = permissions();
    PermissionMap::const_iterator it = permissionS.find(permission.permission());
    return it != permissionS.end() && it->second.hasPermission();
}

void Product::updateInitMap(const std::string& strProfile, const std::string& strOldParam,
                            const std::string& strName, const std::string& strValue, bool bAddNew)
{
    ownMaps();
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

void Product::shareWithCopies()
{
    // A product that reads a frozen set (a catalogue entry put back after a failed load) takes
    // maps of its own again and offers the same set.
    if (_bReadsShared)
        copySharedMaps();
    if (_pshared || (_initProduct.empty() && _roleS.empty() && _permissionS.empty()))
        return;
    for (auto& entry : _roleS)
        entry.second.shareCarriedPermissions();
    auto pshared = std::make_shared<Shared>();
    pshared->twin = Product(_nProduct, InitMapMap(), _strDescription);
    pshared->initProduct = _initProduct;
    pshared->roleS = _roleS;
    pshared->permissionS = _permissionS;
    for (auto& entry : pshared->roleS)
        entry.second.resetProduct(pshared->twin);
    for (auto& entry : pshared->permissionS)
        entry.second.resetProduct(pshared->twin);
    _pshared = std::move(pshared);
}

} // namespace OstrelData
