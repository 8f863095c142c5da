#ifndef OSTRELDAL_TEAMQUERY_H
#define OSTRELDAL_TEAMQUERY_H

#include "OstrelDal/TeamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API TeamQuery : public QueryPattern<TeamQueryBase> {
public:
    using QueryPattern<TeamQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
