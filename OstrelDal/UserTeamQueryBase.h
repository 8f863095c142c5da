#ifndef OSTRELDAL_USERTEAMQUERYBASE_H
#define OSTRELDAL_USERTEAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "UserTeam": team membership of users.
OSTRELDAL_DECLARE_QUERY_BASE(UserTeam)

} // namespace OstrelDal

#endif
