#ifndef OSTRELDAL_TEAMPRODUCTPERMISSIONQUERY_H
#define OSTRELDAL_TEAMPRODUCTPERMISSIONQUERY_H

#include "OstrelDal/TeamProductPermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(TeamProductPermission)

} // namespace OstrelDal

#endif
