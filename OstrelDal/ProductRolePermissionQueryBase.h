#ifndef OSTRELDAL_PRODUCTROLEPERMISSIONQUERYBASE_H
#define OSTRELDAL_PRODUCTROLEPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ProductRolePermission": the permissions each role carries.
OSTRELDAL_DECLARE_QUERY_BASE(ProductRolePermission)

} // namespace OstrelDal

#endif
