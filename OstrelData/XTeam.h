#ifndef OSTRELDATA_XTEAM_H
#define OSTRELDATA_XTEAM_H

#include <map>
#include <string>
#include <utility>

#include "OstrelData/Export.h"

namespace OstrelData {

// (domain name, outside group name).
typedef std::pair<std::string, std::string> AlienKey;
// (outside group, team number).
typedef std::pair<AlienKey, int> AlienMapKey;

// Maps a group of a domain's outside directory onto a team.
class OSTRELDATA_API XTeam {
public:
    XTeam();
    XTeam(const std::string& strDomain, const std::string& strAlienGroup, const std::string& strAlienGroupLeadGroup,
          int nTeam);
    XTeam(const XTeam& other);
    XTeam& operator=(const XTeam& other);
    virtual ~XTeam();

    const std::string& domain() const { return _strDomain; }
    const std::string& alienGroup() const { return _strAlienGroup; }
    const std::string& alienGroupLeadGroup() const { return _strAlienGroupLeadGroup; }
    int team() const { return _nTeam; }
    const AlienKey& keyAlien() const { return _keyAlien; }
    const AlienMapKey& keyAlienMap() const { return _keyAlienMap; }

private:
    std::string _strDomain;
    std::string _strAlienGroup;
    std::string _strAlienGroupLeadGroup;
    int _nTeam;
    AlienKey _keyAlien;
    AlienMapKey _keyAlienMap;
};

class OSTRELDATA_API XTeamMap : public std::map<AlienMapKey, XTeam> {
public:
    using std::map<AlienMapKey, XTeam>::map;
};

// Pointers into the registry's XTeamMap; not owned.
class OSTRELDATA_API XTeamPtrMap : public std::map<AlienMapKey, XTeam*> {
public:
    using std::map<AlienMapKey, XTeam*>::map;
};

// Every mapping of one outside group.
class OSTRELDATA_API XTeamPtrAlienMap : public std::map<AlienKey, XTeamPtrMap> {
public:
    using std::map<AlienKey, XTeamPtrMap>::map;
};

// Every outside group mapped onto one team.
class OSTRELDATA_API XTeamPtrAlienRevMap : public std::map<int, XTeamPtrMap> {
public:
    using std::map<int, XTeamPtrMap>::map;
};

} // namespace OstrelData

#endif
