#include "OstrelData/Profile.h"

namespace OstrelData {

Profile::Profile(const std::string& strProfile, bool bDefault) : _strProfile(strProfile), _bDefault(bDefault) {}

Profile::Profile(const Profile& other) = default;

Profile& Profile::operator=(const Profile& other)
{
    if (this != &other) {
        _strProfile = other._strProfile;
        _bDefault = other._bDefault;
        _productS = other._productS;
    }
    return *this;
}

Profile::~Profile() = default;

ProfileMap::~ProfileMap() = default;

} // namespace OstrelData
