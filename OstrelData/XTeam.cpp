#include "OstrelData/XTeam.h"

namespace OstrelData {

XTeam::XTeam() : _nTeam(-1), _keyAlien("", ""), _keyAlienMap(_keyAlien, -1) {}

XTeam::XTeam(const std::string& strDomain, const std::string& strAlienGroup,
             const std::string& strAlienGroupLeadGroup, int nTeam)
    : _strDomain(strDomain), _strAlienGroup(strAlienGroup), _strAlienGroupLeadGroup(strAlienGroupLeadGroup),
      _nTeam(nTeam), _keyAlien(strDomain, strAlienGroup), _keyAlienMap(_keyAlien, nTeam)
{
}

XTeam::XTeam(const XTeam& other) = default;

XTeam& XTeam::operator=(const XTeam& other)
{
    if (this != &other) {
        _strDomain = other._strDomain;
        _strAlienGroup = other._strAlienGroup;
        _strAlienGroupLeadGroup = other._strAlienGroupLeadGroup;
        _nTeam = other._nTeam;
        _keyAlien = other._keyAlien;
        _keyAlienMap = other._keyAlienMap;
    }
    return *this;
}

XTeam::~XTeam() = default;

} // namespace OstrelData
