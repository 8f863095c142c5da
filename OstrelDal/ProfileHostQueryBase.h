#ifndef OSTRELDAL_PROFILEHOSTQUERYBASE_H
#define OSTRELDAL_PROFILEHOSTQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ProfileHost": the hosts that belong to each profile.
OSTRELDAL_DECLARE_QUERY_BASE(ProfileHost)

} // namespace OstrelDal

#endif
