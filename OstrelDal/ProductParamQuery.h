#ifndef OSTRELDAL_PRODUCTPARAMQUERY_H
#define OSTRELDAL_PRODUCTPARAMQUERY_H

#include "OstrelDal/ProductParamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API ProductParamQuery : public QueryPattern<ProductParamQueryBase> {
public:
    using QueryPattern<ProductParamQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
