#ifndef OSTRELDAL_PRODUCTQUERYBASE_H
#define OSTRELDAL_PRODUCTQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Product": the product catalogue.
OSTRELDAL_DECLARE_QUERY_BASE(Product)

} // namespace OstrelDal

#endif
