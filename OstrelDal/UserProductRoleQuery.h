#ifndef OSTRELDAL_USERPRODUCTROLEQUERY_H
#define OSTRELDAL_USERPRODUCTROLEQUERY_H

#include "OstrelDal/UserProductRoleQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(UserProductRole)

} // namespace OstrelDal

#endif
