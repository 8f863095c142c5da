#ifndef OSTRELDAL_PRODUCTPARAMQUERYBASE_H
#define OSTRELDAL_PRODUCTPARAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "ProductParam": initialisation parameters of a product in a profile.
OSTRELDAL_DECLARE_QUERY_BASE(ProductParam)

} // namespace OstrelDal

#endif
