#ifndef OSTRELDAL_PRODUCTPERMISSIONQUERYBASE_H
#define OSTRELDAL_PRODUCTPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ProductPermission": the numbered permissions of each product.
OSTRELDAL_DECLARE_QUERY_BASE(ProductPermission)

} // namespace OstrelDal

#endif
