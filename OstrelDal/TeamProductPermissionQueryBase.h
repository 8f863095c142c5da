#ifndef OSTRELDAL_TEAMPRODUCTPERMISSIONQUERYBASE_H
#define OSTRELDAL_TEAMPRODUCTPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "TeamProductPermission": permissions granted to teams.
OSTRELDAL_DECLARE_QUERY_BASE(TeamProductPermission)

} // namespace OstrelDal

#endif
