#ifndef OSTRELDAL_KEPTSESSIONQUERY_H
#define OSTRELDAL_KEPTSESSIONQUERY_H

#include "OstrelDal/KeptSessionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API KeptSessionQuery : public QueryPattern<KeptSessionQueryBase> {
public:
    using QueryPattern<KeptSessionQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
