#ifndef OSTRELDATA_PROFILE_H
#define OSTRELDATA_PROFILE_H

#include <map>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/InitMap.h"

namespace OstrelData {

// A named set of per-product initialisation parameters.
class OSTRELDATA_API Profile : public Base {
public:
    Profile(const std::string& strProfile = std::string(), bool bDefault = false);
    Profile(const Profile& other);
    Profile& operator=(const Profile& other);
    ~Profile() override;

    const std::string& profile() const { return _strProfile; }
    bool isDefault() const { return _bDefault; }
    const ProductInitMap& products() const { return _productS; }
    void setProducts(const ProductInitMap& productS) { _productS = productS; }

private:
    std::string _strProfile;
    bool _bDefault;
    ProductInitMap _productS;
};

// Profiles by name.
class OSTRELDATA_API ProfileMap : public std::map<std::string, Profile> {
public:
    using std::map<std::string, Profile>::map;
    ProfileMap() = default;
    ProfileMap(const ProfileMap& other) = default;
    ProfileMap& operator=(const ProfileMap& other) = default;
    virtual ~ProfileMap();
};

} // namespace OstrelData

#endif
