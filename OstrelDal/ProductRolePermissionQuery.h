#ifndef OSTRELDAL_PRODUCTROLEPERMISSIONQUERY_H
#define OSTRELDAL_PRODUCTROLEPERMISSIONQUERY_H

#include "OstrelDal/ProductRolePermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(ProductRolePermission)

} // namespace OstrelDal

#endif
