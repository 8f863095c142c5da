#ifndef OSTRELDATA_ROLE_H
#define OSTRELDATA_ROLE_H

#include <map>
#include <memory>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/PRStatus.h"
#include "OstrelData/Permission.h"

namespace OstrelData {

class Product;

// A numbered role of a product with the permissions it carries.
class OSTRELDATA_API Role : public Base {
public:
    Role();
    Role(const Product& product, int nRole, const std::string& strDescription, const PRStatus& status);
    // Without product, for decoders that attach it later.
    Role(int nRole, const std::string& strDescription, const PRStatus& status);
    // A copy's permissions that belonged to the source role belong to the copy.
    Role(const Role& other);
    Role& operator=(const Role& other);
    ~Role() override;

    // The owning product; throws 5022 when none is set.
    const Product& product() const;

    int role() const { return _nRole; }
    const std::string& description() const { return _strDescription; }
    const PRStatus& status() const { return _status; }
    PRStatus& status() { return _status; }
    const PermissionMap& permissions() const;
    // Writable permissions of this role's own: a role that shares its permissions copies them
    // first, and they then point at this role.
    PermissionMap& permissions();
    void setDescription(const std::string& strDescription) { _strDescription = strDescription; }
    void setStatus(const PRStatus& status) { _status = status; }
    void resetProduct(const Product& product) { _pproduct = &product; }

    // True exactly when the status is granted.
    bool hasRole() const { return _status == PRStatus::statusGranted; }

    // Lets every later copy of this role share its permissions instead of copying them, until a
    // copy asks for them writable: for a catalogue whose roles every user's and team's grants
    // copy. The permissions then belong to a frozen twin of the role (its number, description and
    // status now, and a product of the same number and description but without roles or
    // permissions), which is what their role() answers; the twin lives as long as anyone shares
    // them, so a copy outlives the catalogue safely.
    void shareCarriedPermissions();
    // Whether this role and other share one set of permissions (for tests and diagnostics).
    bool sharesCarriedPermissionsWith(const Role& other) const
    {
        return _pshared != nullptr && _pshared == other._pshared;
    }

private:
    struct SharedPermissions;

    void adoptPermissions(const Role& from);

    const Product* _pproduct;
    int _nRole;
    std::string _strDescription;
    PRStatus _status;
    PermissionMap _permissionS;  // empty while shared
    std::shared_ptr<const SharedPermissions> _pshared;
};

// Roles by number.
class OSTRELDATA_API RoleMap : public std::map<int, Role> {
public:
    using std::map<int, Role>::map;

    // Combines the role's status into the stored one of the same number; never
    // adds a role the map does not hold.
    void merge(const Role& role);
    void merge(const RoleMap& roleS);
};

} // namespace OstrelData

#endif
