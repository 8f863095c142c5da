#ifndef OSTRELDAL_PRODUCTPARAMQUERY_H
#define OSTRELDAL_PRODUCTPARAMQUERY_H

#include "OstrelDal/ProductParamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(ProductParam)

} // namespace OstrelDal

#endif
