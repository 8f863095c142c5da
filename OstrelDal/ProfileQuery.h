#ifndef OSTRELDAL_PROFILEQUERY_H
#define OSTRELDAL_PROFILEQUERY_H

#include "OstrelDal/ProfileQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API ProfileQuery : public QueryPattern<ProfileQueryBase> {
public:
    using QueryPattern<ProfileQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
