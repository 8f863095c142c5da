#ifndef OSTRELDAL_MODELCHANGEQUERY_H
#define OSTRELDAL_MODELCHANGEQUERY_H

#include "OstrelDal/ModelChangeQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API ModelChangeQuery : public QueryPattern<ModelChangeQueryBase> {
public:
    using QueryPattern<ModelChangeQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
