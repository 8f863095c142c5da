#ifndef OSTRELDAL_TEAMMAPQUERYBASE_H
#define OSTRELDAL_TEAMMAPQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "TeamMap": which team an outside directory group of a domain stands for.
OSTRELDAL_DECLARE_QUERY_BASE(TeamMap)

} // namespace OstrelDal

#endif
