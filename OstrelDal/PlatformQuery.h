#ifndef OSTRELDAL_PLATFORMQUERY_H
#define OSTRELDAL_PLATFORMQUERY_H

#include "OstrelDal/PlatformQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API PlatformQuery : public QueryPattern<PlatformQueryBase> {
public:
    using QueryPattern<PlatformQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
