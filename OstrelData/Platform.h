#ifndef OSTRELDATA_PLATFORM_H
#define OSTRELDATA_PLATFORM_H

#include <map>
#include <string>

#include "OstrelData/Base.h"

namespace OstrelData {

// A platform that shared objects are built for; this system's code is "LNX".
class OSTRELDATA_API Platform : public Base {
public:
    Platform();
    Platform(const std::string& strPlatform, const std::string& strDescription);
    Platform(const Platform& other);
    Platform& operator=(const Platform& other);
    ~Platform() override;

    const std::string& platform() const { return _strPlatform; }
    const std::string& description() const { return _strDescription; }

    // The platform code of the running system.
    static const char* const pszThisPlatform;

private:
    std::string _strPlatform;
    std::string _strDescription;
};

// Platforms by code.
class OSTRELDATA_API PlatformMap : public std::map<std::string, Platform> {
public:
    using std::map<std::string, Platform>::map;
};

} // namespace OstrelData

#endif
