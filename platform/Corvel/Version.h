#ifndef CORVEL_VERSION_H
#define CORVEL_VERSION_H

#include <string>

#include "Corvel/Export.h"

namespace Corvel {

// A four-part version number, written "major.minor.release.build".
class CORVEL_API Version {
public:
    Version();
    Version(int nMajor, int nMinor, int nRelease, int nBuild);

    int major() const { return _nMajor; }
    int minor() const { return _nMinor; }
    int release() const { return _nRelease; }
    int build() const { return _nBuild; }

    // "5.0.4.0".
    std::string text() const;
    // Parses what text() writes; throws Corvel::Exception on anything else.
    static Version fromText(const std::string& strText);

    bool operator==(const Version& other) const;
    bool operator!=(const Version& other) const { return !(*this == other); }
    bool operator<(const Version& other) const;

private:
    int _nMajor;
    int _nMinor;
    int _nRelease;
    int _nBuild;
};

} // namespace Corvel

#endif
