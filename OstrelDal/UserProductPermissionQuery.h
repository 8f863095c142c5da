#ifndef OSTRELDAL_USERPRODUCTPERMISSIONQUERY_H
#define OSTRELDAL_USERPRODUCTPERMISSIONQUERY_H

#include "OstrelDal/UserProductPermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(UserProductPermission)

} // namespace OstrelDal

#endif
