#include "OstrelData/Permission.h"

#include "OstrelData/Exception.h"

namespace OstrelData {

namespace {

std::string legendOf(const Permission& permission)
{
    return "Permission " + std::to_string(permission.permission()) + " - " + permission.description();
}

} // namespace

Permission::Permission() : _pproduct(nullptr), _prole(nullptr), _nPermission(-1) {}

Permission::Permission(const Product& product, int nPermission, const std::string& strDescription,
                       const PRStatus& status)
    : _pproduct(&product), _prole(nullptr), _nPermission(nPermission), _strDescription(strDescription),
      _status(status)
{
}

Permission::Permission(const Role& role, int nPermission, const std::string& strDescription, const PRStatus& status)
    : _pproduct(nullptr), _prole(&role), _nPermission(nPermission), _strDescription(strDescription), _status(status)
{
}

Permission::Permission(int nPermission, const std::string& strDescription, const PRStatus& status)
    : _pproduct(nullptr), _prole(nullptr), _nPermission(nPermission), _strDescription(strDescription),
      _status(status)
{
}

Permission::Permission(const Permission& other) = default;

Permission& Permission::operator=(const Permission& other)
{
    if (this != &other) {
        _pproduct = other._pproduct;
        _prole = other._prole;
        _nPermission = other._nPermission;
        _strDescription = other._strDescription;
        _status = other._status;
    }
    return *this;
}

Permission::~Permission() = default;

const Product& Permission::product() const
{
    if (_pproduct == nullptr)
        OSTREL_RAISE(nNAX_NOPRODUCTSET, legendOf(*this));
    return *_pproduct;
}

const Role& Permission::role() const
{
    if (_prole == nullptr)
        OSTREL_RAISE(nNAX_NOROLESET, legendOf(*this));
    return *_prole;
}

void PermissionMap::merge(const Permission& permission)
{
    iterator it = find(permission.permission());
    if (it != end())
        it->second.status() += permission.status();
}

void PermissionMap::merge(const PermissionMap& permissionS)
{
    if (&permissionS == this) {
        // Combining a status with itself never changes it.
        return;
    }
    for (const auto& entry : permissionS)
        merge(entry.second);
}

} // namespace OstrelData
