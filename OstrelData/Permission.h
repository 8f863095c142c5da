#ifndef OSTRELDATA_PERMISSION_H
#define OSTRELDATA_PERMISSION_H

#include <map>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/PRStatus.h"

namespace OstrelData {

class Product;
class Role;

// A numbered permission of a product, either at product level (product set, no
// role) or carried by a role (role set, no product until resetProduct).
class OSTRELDATA_API Permission : public Base {
public:
    Permission();
    Permission(const Product& product, int nPermission, const std::string& strDescription, const PRStatus& status);
    Permission(const Role& role, int nPermission, const std::string& strDescription, const PRStatus& status);
    // Without product or role, for decoders that attach it later.
    Permission(int nPermission, const std::string& strDescription, const PRStatus& status);
    Permission(const Permission& other);
    Permission& operator=(const Permission& other);
    ~Permission() override;

    // The owning product; throws 5022 when none is set.
    const Product& product() const;
    // The role the permission belongs to; throws 5023 when none is set.
    const Role& role() const;
    bool hasRole() const { return _prole != nullptr; }

    int permission() const { return _nPermission; }
    const std::string& description() const { return _strDescription; }
    const PRStatus& status() const { return _status; }
    PRStatus& status() { return _status; }
    void setDescription(const std::string& strDescription) { _strDescription = strDescription; }
    void setStatus(const PRStatus& status) { _status = status; }
    void resetProduct(const Product& product) { _pproduct = &product; }
    // Re-links the permission to a role (used when a role is copied).
    void resetRole(const Role& role) { _prole = &role; }

    // True exactly when the status is granted.
    bool hasPermission() const { return _status == PRStatus::statusGranted; }

private:
    const Product* _pproduct;
    const Role* _prole;
    int _nPermission;
    std::string _strDescription;
    PRStatus _status;
};

// Permissions by number.
class OSTRELDATA_API PermissionMap : public std::map<int, Permission> {
public:
    using std::map<int, Permission>::map;

    // Combines the permission's status into the stored one of the same number;
    // never adds a permission the map does not hold.
    void merge(const Permission& permission);
    void merge(const PermissionMap& permissionS);
};

} // namespace OstrelData

#endif
