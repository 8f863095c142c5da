#ifndef OSTRELDAL_USERPRODUCTPERMISSIONQUERYBASE_H
#define OSTRELDAL_USERPRODUCTPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "UserProductPermission": permissions granted to users.
OSTRELDAL_DECLARE_QUERY_BASE(UserProductPermission)

} // namespace OstrelDal

#endif
