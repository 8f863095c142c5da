#include "OstrelData/Role.h"

#include "OstrelData/Exception.h"

namespace OstrelData {

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
      _status(other._status), _permissionS(other._permissionS)
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
