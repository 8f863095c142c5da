#ifndef OSTRELDAL_TEAMQUERYBASE_H
#define OSTRELDAL_TEAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Team": a team of a customer.
OSTRELDAL_DECLARE_QUERY_BASE(Team)

} // namespace OstrelDal

#endif
