#include "OstrelData/Product.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

namespace OstrelData {

namespace {

// Statuses by number, sorted: a few cache lines where a map of the same is a node per entry.
using StatusEntry = std::pair<int, PRStatus::PRStatusRaw>;
using StatusEntries = std::vector<StatusEntry>;

// The same kept in place up to N entries and in a vector past that. A copy keeps a few statuses
// aside, and a check over many users finds them cold in memory: in place, the check waits for the
// lines of one object rather than for that object and then for a second one its pointer names.
template <size_t N>
class InlineEntries {
public:
    InlineEntries() = default;
    InlineEntries(const InlineEntries& other) : _n(other._n)
    {
        if (spilled())
            _spillS = other._spillS;
        else
            std::copy(other._inlineS, other._inlineS + _n, _inlineS);
    }
    InlineEntries& operator=(const InlineEntries&) = delete;

    size_t size() const { return _n; }
    const StatusEntry* data() const { return spilled() ? _spillS.data() : _inlineS; }
    StatusEntry* data() { return spilled() ? _spillS.data() : _inlineS; }
    const StatusEntry* begin() const { return data(); }
    const StatusEntry* end() const { return data() + _n; }
    StatusEntry* begin() { return data(); }
    StatusEntry* end() { return data() + _n; }

    StatusEntry* emplace(StatusEntry* pplace, int n, PRStatus::PRStatusRaw status)
    {
        const size_t i = static_cast<size_t>(pplace - begin());
        if (_n < N) {
            std::move_backward(_inlineS + i, _inlineS + _n, _inlineS + _n + 1);
            _inlineS[i] = StatusEntry(n, status);
        } else {
            if (_n == N) {
                _spillS.reserve(2 * N);
                _spillS.assign(_inlineS, _inlineS + N);
            }
            _spillS.emplace(_spillS.begin() + static_cast<std::ptrdiff_t>(i), n, status);
        }
        ++_n;
        return begin() + i;
    }

private:
    bool spilled() const { return _n > N; }

    uint32_t _n = 0;
    StatusEntry _inlineS[N];
    std::vector<StatusEntry> _spillS;
};

} // namespace

// What copies of a product share: a frozen copy of its maps, whose roles and
// permissions point at twin.
struct Product::Shared {
    // The same statuses as the maps below, laid out for the checks and merges of the copies, which
    // read a set that in a large catalogue is seldom in the caches: the roles', the permissions',
    // and the permissions each role carries (role i's are carriedS[carriedFromS[i]] up to
    // carriedFromS[i + 1]). First, beside the count of those who share: they are what authorising
    // and checking read of a set.
    StatusEntries roleStatusS;
    StatusEntries permissionStatusS;
    StatusEntries carriedS;
    std::vector<size_t> carriedFromS;
    Product twin;
    InitMapMap initProduct;
    RoleMap roleS;
    PermissionMap permissionS;
};

// The statuses merged into a copy that reads a frozen set, by number: a user's grants touch a few of
// a product's roles, and copying the whole set for them is most of what authorising costs.
struct Product::Statuses {
    Statuses() = default;
    Statuses(const Statuses& other) : permissionS(other.permissionS), roleS(other.roleS) {}

    // Permissions first, the most checked: most products' fit in the object's first cache lines.
    InlineEntries<14> permissionS;
    InlineEntries<4> roleS;
    // Whether the product's maps are made: not yet, being made by one reader, made.
    enum { mapsNone, mapsMaking, mapsMade };
    mutable std::atomic<int> nMaps{mapsNone};
};

namespace {

// The entry for n or the place it would go; an iterator to change it through when entryS may change.
template <class TEntries>
auto lowerBound(TEntries& entryS, int n) -> decltype(entryS.begin())
{
    return std::lower_bound(entryS.begin(), entryS.end(), n,
                            [](const StatusEntries::value_type& entry, int m) { return entry.first < m; });
}

template <class TEntries>
const PRStatus::PRStatusRaw* findAside(const TEntries& entryS, int n)
{
    auto it = lowerBound(entryS, n);
    return it != entryS.end() && it->first == n ? &it->second : nullptr;
}

// Whether n is granted: by the status kept aside for it (pasideS), else by the frozen set's.
template <class TAside>
bool grantedIn(const TAside* pasideS, const StatusEntries& frozenS, int n)
{
    const PRStatus::PRStatusRaw* pstatus = pasideS != nullptr ? findAside(*pasideS, n) : nullptr;
    if (pstatus == nullptr)
        pstatus = findAside(frozenS, n);
    return pstatus != nullptr && *pstatus == PRStatus::statusGranted;
}

// Combines status into the entry for n of a frozen set that holds n, kept in entryS.
template <class TAside>
void combineAsideFrom(const StatusEntries& frozenS, TAside& entryS, int n, const PRStatus& status)
{
    const PRStatus::PRStatusRaw* pstored = findAside(frozenS, n);
    if (pstored == nullptr)
        return;
    auto it = lowerBound(entryS, n);
    if (it == entryS.end() || it->first != n)
        it = entryS.emplace(it, n, *pstored);
    PRStatus combined(it->second);
    combined += status;
    it->second = combined;
}

// As RoleMap::merge and PermissionMap::merge do.
template <class TMap>
void mergeInto(TMap& mapS, int n, const PRStatus& status)
{
    auto it = mapS.find(n);
    if (it != mapS.end())
        it->second.status() += status;
}

template <class TMap, class TAside>
void applyAside(TMap& mapS, const TAside& entryS)
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
    combineAsideFrom(_pshared->roleStatusS, statusesAside().roleS, nRole, status);
}

void Product::mergePermissionStatus(int nPermission, const PRStatus& status)
{
    if (!keepsStatusesAside())
        return mergeInto(permissions(), nPermission, status);
    combineAsideFrom(_pshared->permissionStatusS, statusesAside().permissionS, nPermission, status);
}

void Product::mergeGrantedRolePermissions()
{
    if (keepsStatusesAside()) {
        // In number order, as the maps fold: a role's own status is the one kept aside, else the set's.
        const Shared& shared = *_pshared;
        for (size_t i = 0; i < shared.roleStatusS.size(); ++i) {
            const int nRole = shared.roleStatusS[i].first;
            const PRStatus::PRStatusRaw* paside = _pstatuses ? findAside(_pstatuses->roleS, nRole) : nullptr;
            if ((paside != nullptr ? *paside : shared.roleStatusS[i].second) != PRStatus::statusGranted)
                continue;
            for (size_t c = shared.carriedFromS[i]; c < shared.carriedFromS[i + 1]; ++c)
                mergePermissionStatus(shared.carriedS[c].first, PRStatus(shared.carriedS[c].second));
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
    if (_bReadsShared)
        return grantedIn(_pstatuses ? &_pstatuses->roleS : nullptr, _pshared->roleStatusS, role.role());
    const RoleMap& roleS = roles();
    RoleMap::const_iterator it = roleS.find(role.role());
    return it != roleS.end() && it->second.hasRole();
}

bool Product::hasPermission(const Permission& permission) const
{
    if (_bReadsShared)
        return grantedIn(_pstatuses ? &_pstatuses->permissionS : nullptr, _pshared->permissionStatusS,
                         permission.permission());
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
    if (readyToOffer())
        offer(newSharedStatuses());
}

void Product::shareCatalogueWithCopies(ProductMap& productS)
{
    std::vector<Product*> readyS;
    for (auto& entry : productS) {
        if (entry.second.readyToOffer())
            readyS.push_back(&entry.second);
    }
    // Every set's statuses first, one set after the other, and the maps after them all: the
    // statuses are all that copies read, and a user's few products then take a few pages of
    // them rather than a page each among the maps.
    std::vector<std::shared_ptr<Shared>> sharedS;
    sharedS.reserve(readyS.size());
    for (const Product* pproduct : readyS)
        sharedS.push_back(pproduct->newSharedStatuses());
    for (size_t i = 0; i < readyS.size(); ++i)
        readyS[i]->offer(std::move(sharedS[i]));
}

bool Product::readyToOffer()
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
        return false;
    for (auto& entry : _roleS)
        entry.second.shareCarriedPermissions();
    return true;
}

// Each array allocated once at its size, right after the set itself.
std::shared_ptr<Product::Shared> Product::newSharedStatuses() const
{
    auto pshared = std::make_shared<Shared>();
    size_t nCarried = 0;
    for (const auto& entry : _roleS)
        nCarried += entry.second.permissions().size();
    pshared->roleStatusS.reserve(_roleS.size());
    pshared->carriedFromS.reserve(_roleS.size() + 1);
    pshared->carriedS.reserve(nCarried);
    pshared->permissionStatusS.reserve(_permissionS.size());
    for (const auto& entry : _roleS) {
        pshared->roleStatusS.emplace_back(entry.first, entry.second.status());
        pshared->carriedFromS.push_back(pshared->carriedS.size());
        for (const auto& carried : entry.second.permissions())
            pshared->carriedS.emplace_back(carried.first, carried.second.status());
    }
    pshared->carriedFromS.push_back(pshared->carriedS.size());
    for (const auto& entry : _permissionS)
        pshared->permissionStatusS.emplace_back(entry.first, entry.second.status());
    return pshared;
}

void Product::offer(std::shared_ptr<Shared> pshared)
{
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
