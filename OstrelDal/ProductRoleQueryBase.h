#ifndef OSTRELDAL_PRODUCTROLEQUERYBASE_H
#define OSTRELDAL_PRODUCTROLEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ProductRole": the numbered roles of each product.
OSTRELDAL_DECLARE_QUERY_BASE(ProductRole)

} // namespace OstrelDal

#endif
