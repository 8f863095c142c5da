#ifndef OSTRELDAL_USERTEAMQUERY_H
#define OSTRELDAL_USERTEAMQUERY_H

#include "OstrelDal/UserTeamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(UserTeam)

} // namespace OstrelDal

#endif
