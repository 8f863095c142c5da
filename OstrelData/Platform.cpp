#include "OstrelData/Platform.h"

namespace OstrelData {

const char* const Platform::pszThisPlatform = "LNX";

Platform::Platform() = default;

Platform::Platform(const std::string& strPlatform, const std::string& strDescription)
    : _strPlatform(strPlatform), _strDescription(strDescription)
{
}

Platform::Platform(const Platform& other) = default;

Platform& Platform::operator=(const Platform& other)
{
    if (this != &other) {
        _strPlatform = other._strPlatform;
        _strDescription = other._strDescription;
    }
    return *this;
}

Platform::~Platform() = default;

} // namespace OstrelData
