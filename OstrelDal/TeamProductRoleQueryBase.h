#ifndef OSTRELDAL_TEAMPRODUCTROLEQUERYBASE_H
#define OSTRELDAL_TEAMPRODUCTROLEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "TeamProductRole": roles granted to teams.
OSTRELDAL_DECLARE_QUERY_BASE(TeamProductRole)

} // namespace OstrelDal

#endif
