#ifndef OSTRELDAL_GENERICPRODUCTPERMISSIONQUERY_H
#define OSTRELDAL_GENERICPRODUCTPERMISSIONQUERY_H

#include "OstrelDal/GenericProductPermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(GenericProductPermission)

} // namespace OstrelDal

#endif
