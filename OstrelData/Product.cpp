#include "OstrelData/Product.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace OstrelData {

// What copies of a product share: a frozen copy of its maps, whose roles and
// permissions point at twin.
struct Product::Shared {
    Product twin;
    InitMapMap initProduct;
    RoleMap roleS;
    PermissionMap permissionS;
    // The roles the set itself grants, by number: folding a copy's granted roles walks these and
    // the copy's own statuses instead of every role of a set that is seldom in the caches.
    std::vector<int> grantedRoleS;
};

// The statuses merged into a copy that reads a frozen set, by number: a user's grants touch a few of
// a product's roles, and copying the whole set for them is most of what authorising costs.
struct Product::Statuses {
    using Entries = std::vector<std::pair<int, PRStatus::PRStatusRaw>>;

    Statuses() = default;
    Statuses(const Statuses& other) : roleS(other.roleS), permissionS(other.permissionS) {}

    Entries roleS;
    Entries permissionS;
    // Whether the product's maps are made: not yet, being made by one reader, made.
    enum { mapsNone, mapsMaking, mapsMade };
    mutable std::atomic<int> nMaps{mapsNone};
};

namespace {

const PRStatus::PRStatusRaw* findAside(const std::vector<std::pair<int, PRStatus::PRStatusRaw>>& entryS, int n)
{
    auto it = std::lower_bound(entryS.begin(), entryS.end(), n,
                               [](const std::pair<int, PRStatus::PRStatusRaw>& entry, int m) { return entry.first < m; });
    return it != entryS.end() && it->first == n ? &it->second : nullptr;
}

// Combines status into the entry for n, which starts from stored.
void combineAside(std::vector<std::pair<int, PRStatus::PRStatusRaw>>& entryS, int n, const PRStatus& stored,
                  const PRStatus& status)
{
    auto it = std::lower_bound(entryS.begin(), entryS.end(), n,
                               [](const std::pair<int, PRStatus::PRStatusRaw>& entry, int m) { return entry.first < m; });
    if (it == entryS.end() || it->first != n)
        it = entryS.emplace(it, n, stored);
    PRStatus combined(it->second);
    combined += status;
    it->second = combined;
}

// Combines status into the entry for n of a frozen set that holds n.
template <class TMap>
void combineAsideFrom(const TMap& frozenS, std::vector<std::pair<int, PRStatus::PRStatusRaw>>& entryS, int n,
                      const PRStatus& status)
{
    auto it = frozenS.find(n);
    if (it != frozenS.end())
        combineAside(entryS, n, it->second.status(), status);
}

// As RoleMap::merge and PermissionMap::merge do.
template <class TMap>
void mergeInto(TMap& mapS, int n, const PRStatus& status)
{
    auto it = mapS.find(n);
    if (it != mapS.end())
        it->second.status() += status;
}

template <class TMap>
void applyAside(TMap& mapS, const std::vector<std::pair<int, PRStatus::PRStatusRaw>>& entryS)
{
    for (const auto& entry : entryS) {
        auto it = mapS.find(entry.first);
        if (it != mapS.end())
            it->second.setStatus(entry.second);
    }
}

} // namespace

Product::Product() : _nProduct(-1), _bReadsShared(false) {}

Product::Product(int nProduct) : _nProduct(nProduct), _bReadsShared(false) {}

Product::Product(int nProduct, const InitMapMap& initProduct, const std::string& strDescription)
    : _nProduct(nProduct), _bReadsShared(false), _strDescription(strDescription), _initProduct(initProduct)
{
}

Product::Product(const Product& other)
    : Base(other), _nProduct(other._nProduct), _bReadsShared(other._pshared != nullptr),
      _strDescription(other._strDescription), _pshared(other._pshared),
      _pstatuses(other._pstatuses ? std::make_unique<Statuses>(*other._pstatuses) : nullptr)
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
        // Everything copied aside before anything changes: a failed copy leaves this product as it
        // was, and other may be part of what this product lets go.
        std::string strDescription(other._strDescription);
        std::shared_ptr<const Shared> pshared = other._pshared;
        std::unique_ptr<Statuses> pstatuses(other._pstatuses ? std::make_unique<Statuses>(*other._pstatuses)
                                                             : nullptr);
        InitMapMap initProduct;
        RoleMap roleS;
        PermissionMap permissionS;
        if (!pshared) {
            initProduct = other._initProduct;
            roleS = other._roleS;
            permissionS = other._permissionS;
        }
        _nProduct = other._nProduct;
        _strDescription.swap(strDescription);
        _initProduct.swap(initProduct);
        _roleS.swap(roleS);
        _permissionS.swap(permissionS);
        _bReadsShared = pshared != nullptr;
        _pshared = std::move(pshared);
        _pstatuses = std::move(pstatuses);
        resetPR();
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
    if (!_bReadsShared)
        return _roleS;
    if (!_pstatuses)
        return _pshared->roleS;
    makeMaps();
    return _roleS;
}

const PermissionMap& Product::permissions() const
{
    if (!_bReadsShared)
        return _permissionS;
    if (!_pstatuses)
        return _pshared->permissionS;
    makeMaps();
    return _permissionS;
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
    if (_pstatuses) {
        // Made in place: references a const read handed out stay good.
        makeMaps();
    } else {
        RoleMap roleS(_pshared->roleS);
        PermissionMap permissionS(_pshared->permissionS);
        _roleS.swap(roleS);
        _permissionS.swap(permissionS);
    }
    _initProduct.swap(initProduct);
    _bReadsShared = false;
    _pstatuses.reset();
    resetPR();
}

// Once per product, whichever reader comes first; the others wait for it. A reader that fails
// leaves the maps unmade for the next.
void Product::makeMaps() const
{
    std::atomic<int>& nMaps = _pstatuses->nMaps;
    for (;;) {
        int nState = nMaps.load(std::memory_order_acquire);
        if (nState == Statuses::mapsMade)
            return;
        if (nState == Statuses::mapsNone &&
            nMaps.compare_exchange_weak(nState, Statuses::mapsMaking, std::memory_order_acquire)) {
            try {
                RoleMap roleS(_pshared->roleS);
                PermissionMap permissionS(_pshared->permissionS);
                applyAside(roleS, _pstatuses->roleS);
                applyAside(permissionS, _pstatuses->permissionS);
                for (auto& entry : roleS)
                    entry.second.resetProduct(*this);
                for (auto& entry : permissionS)
                    entry.second.resetProduct(*this);
                _roleS.swap(roleS);
                _permissionS.swap(permissionS);
            } catch (...) {
                nMaps.store(Statuses::mapsNone, std::memory_order_release);
                throw;
            }
            nMaps.store(Statuses::mapsMade, std::memory_order_release);
            return;
        }
        std::this_thread::yield();
    }
}

bool Product::keepsStatusesAside() const
{
    return _bReadsShared &&
           (!_pstatuses || _pstatuses->nMaps.load(std::memory_order_acquire) == Statuses::mapsNone);
}

void Product::forEachRole(const std::function<void(const Role&, const PRStatus&)>& visit) const
{
    for (const auto& entry : _bReadsShared ? _pshared->roleS : _roleS) {
        const PRStatus::PRStatusRaw* pstatus = _pstatuses ? findAside(_pstatuses->roleS, entry.first) : nullptr;
        visit(entry.second, pstatus != nullptr ? PRStatus(*pstatus) : entry.second.status());
    }
}

void Product::forEachPermission(const std::function<void(const Permission&, const PRStatus&)>& visit) const
{
    for (const auto& entry : _bReadsShared ? _pshared->permissionS : _permissionS) {
        const PRStatus::PRStatusRaw* pstatus =
            _pstatuses ? findAside(_pstatuses->permissionS, entry.first) : nullptr;
        visit(entry.second, pstatus != nullptr ? PRStatus(*pstatus) : entry.second.status());
    }
}

// Made even before a number the set holds is merged: the maps a read makes then point at this copy,
// as a written copy's always did.
Product::Statuses& Product::statusesAside()
{
    if (!_pstatuses)
        _pstatuses = std::make_unique<Statuses>();
    return *_pstatuses;
}

void Product::mergeRoleStatus(int nRole, const PRStatus& status)
{
    if (!keepsStatusesAside())
        return mergeInto(roles(), nRole, status);
    combineAsideFrom(_pshared->roleS, statusesAside().roleS, nRole, status);
}

void Product::mergePermissionStatus(int nPermission, const PRStatus& status)
{
    if (!keepsStatusesAside())
        return mergeInto(permissions(), nPermission, status);
    combineAsideFrom(_pshared->permissionS, statusesAside().permissionS, nPermission, status);
}

void Product::mergeGrantedRolePermissions()
{
    if (keepsStatusesAside()) {
        std::vector<int> grantedS;
        if (_pstatuses) {
            for (const auto& entry : _pstatuses->roleS) {
                if (entry.second == PRStatus::statusGranted)
                    grantedS.push_back(entry.first);
            }
        }
        for (int nRole : _pshared->grantedRoleS) {
            if (!_pstatuses || findAside(_pstatuses->roleS, nRole) == nullptr)
                grantedS.push_back(nRole);
        }
        std::sort(grantedS.begin(), grantedS.end());
        // The frozen set stays held while the walk keeps statuses aside.
        for (int nRole : grantedS) {
            for (const auto& entry : _pshared->roleS.at(nRole).permissions())
                mergePermissionStatus(entry.first, entry.second.status());
        }
        return;
    }
    const Product& self = *this;
    const RoleMap& roleS = self.roles();
    auto granted = [](const RoleMap::value_type& entry) { return entry.second.hasRole(); };
    if (std::none_of(roleS.begin(), roleS.end(), granted))
        return;
    // Taken before the walk, so that the walk reads the maps this product goes on holding.
    PermissionMap& permissionS = permissions();
    for (const auto& entryRole : self.roles()) {
        if (granted(entryRole))
            permissionS.merge(entryRole.second.permissions());
    }
}

bool Product::hasRole(const Role& role) const
{
    if (_pstatuses) {
        if (const PRStatus::PRStatusRaw* pstatus = findAside(_pstatuses->roleS, role.role()))
            return *pstatus == PRStatus::statusGranted;
    }
    const RoleMap& roleS = _bReadsShared ? _pshared->roleS : _roleS;
    RoleMap::const_iterator it = roleS.find(role.role());
    return it != roleS.end() && it->second.hasRole();
}

bool Product::hasPermission(const Permission& permission) const
{
    if (_pstatuses) {
        if (const PRStatus::PRStatusRaw* pstatus = findAside(_pstatuses->permissionS, permission.permission()))
            return *pstatus == PRStatus::statusGranted;
    }
    const PermissionMap& permissionS = _bReadsShared ? _pshared->permissionS : _permissionS;
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
    // maps of its own again and offers the same set; one with statuses of its own offers a new one.
    if (_bReadsShared) {
        const bool bOwnStatuses = _pstatuses != nullptr;
        copySharedMaps();
        if (bOwnStatuses)
            _pshared.reset();
    }
    if (_pshared || (_initProduct.empty() && _roleS.empty() && _permissionS.empty()))
        return;
    for (auto& entry : _roleS)
        entry.second.shareCarriedPermissions();
    auto pshared = std::make_shared<Shared>();
    pshared->twin = Product(_nProduct, InitMapMap(), _strDescription);
    pshared->initProduct = _initProduct;
    pshared->roleS = _roleS;
    pshared->permissionS = _permissionS;
    for (auto& entry : pshared->roleS) {
        entry.second.resetProduct(pshared->twin);
        if (entry.second.hasRole())
            pshared->grantedRoleS.push_back(entry.first);
    }
    for (auto& entry : pshared->permissionS)
        entry.second.resetProduct(pshared->twin);
    _pshared = std::move(pshared);
}

} // namespace OstrelData
