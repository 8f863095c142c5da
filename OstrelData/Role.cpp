#include "OstrelData/Role.h"

#include "OstrelData/Exception.h"
#include "OstrelData/Product.h"

namespace OstrelData {

struct Role::SharedPermissions {
    Product product;  // the number and description of the role's product, for addressing it
    Role twin;
    PermissionMap permissionS;
};

Role::Role() : _pproduct(nullptr), _nRole(-1) {}

Role::Role(const Product& product, int nRole, const std::string& strDescription, const PRStatus& status)
    : _pproduct(&product), _nRole(nRole), _strDescription(strDescription), _status(status)
{
}

Role::Role(int nRole, const std::string& strDescription, const PRStatus& status)
    : _pproduct(nullptr), _nRole(nRole), _strDescription(strDescription), _status(status)
{
}

Role::Role(const Role& other)
    : Base(other), _pproduct(other._pproduct), _nRole(other._nRole), _strDescription(other._strDescription),
      _status(other._status), _permissionS(other._permissionS), _pshared(other._pshared)
{
    adoptPermissions(other);
}

Role& Role::operator=(const Role& other)
{
    if (this != &other) {
        _pproduct = other._pproduct;
        _nRole = other._nRole;
        _strDescription = other._strDescription;
        _status = other._status;
        _permissionS = other._permissionS;
        _pshared = other._pshared;
        adoptPermissions(other);
    }
    return *this;
}

Role::~Role() = default;

// Permissions that pointed at the source role would dangle once the source goes;
// they belong to the copy instead. Links to any other role are kept.
void Role::adoptPermissions(const Role& from)
{
    for (auto& entry : _permissionS) {
        if (entry.second.hasRole() && &entry.second.role() == &from)
            entry.second.resetRole(*this);
    }
}

const PermissionMap& Role::permissions() const
{
    return _pshared ? _pshared->permissionS : _permissionS;
}

PermissionMap& Role::permissions()
{
    if (_pshared) {
        _permissionS = _pshared->permissionS;
        for (auto& entry : _permissionS) {
            if (entry.second.hasRole() && &entry.second.role() == &_pshared->twin)
                entry.second.resetRole(*this);
        }
        _pshared.reset();
    }
    return _permissionS;
}

void Role::shareCarriedPermissions()
{
    if (_pshared || _permissionS.empty())
        return;
    auto pshared = std::make_shared<SharedPermissions>();
    if (_pproduct != nullptr) {
        pshared->product = Product(_pproduct->product(), InitMapMap(), _pproduct->description());
        pshared->twin = Role(pshared->product, _nRole, _strDescription, _status);
    } else {
        pshared->twin = Role(_nRole, _strDescription, _status);
    }
    // The nodes move whole, so only the links to this role need changing.
    pshared->permissionS.swap(_permissionS);
    for (auto& entry : pshared->permissionS) {
        if (entry.second.hasRole() && &entry.second.role() == this)
            entry.second.resetRole(pshared->twin);
    }
    _pshared = std::move(pshared);
}

const Product& Role::product() const
{
    if (_pproduct == nullptr)
        OSTREL_RAISE(nNAX_NOPRODUCTSET, "Role " + std::to_string(_nRole) + " - " + _strDescription);
    return *_pproduct;
}

void RoleMap::merge(const Role& role)
{
    iterator it = find(role.role());
    if (it != end())
        it->second.status() += role.status();
}

void RoleMap::merge(const RoleMap& roleS)
{
    if (&roleS == this)
        return;
    for (const auto& entry : roleS)
        merge(entry.second);
}

} // namespace OstrelData
