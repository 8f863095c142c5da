#ifndef OSTRELDAL_USERPRODUCTROLEQUERYBASE_H
#define OSTRELDAL_USERPRODUCTROLEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "UserProductRole": roles granted to users.
OSTRELDAL_DECLARE_QUERY_BASE(UserProductRole)

} // namespace OstrelDal

#endif
