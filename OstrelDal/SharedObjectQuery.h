#ifndef OSTRELDAL_SHAREDOBJECTQUERY_H
#define OSTRELDAL_SHAREDOBJECTQUERY_H

#include "OstrelDal/SharedObjectQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API SharedObjectQuery : public QueryPattern<SharedObjectQueryBase> {
public:
    using QueryPattern<SharedObjectQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
