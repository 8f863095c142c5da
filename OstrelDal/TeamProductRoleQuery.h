#ifndef OSTRELDAL_TEAMPRODUCTROLEQUERY_H
#define OSTRELDAL_TEAMPRODUCTROLEQUERY_H

#include "OstrelDal/TeamProductRoleQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(TeamProductRole)

} // namespace OstrelDal

#endif
