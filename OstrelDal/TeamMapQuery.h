#ifndef OSTRELDAL_TEAMMAPQUERY_H
#define OSTRELDAL_TEAMMAPQUERY_H

#include "OstrelDal/TeamMapQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API TeamMapQuery : public QueryPattern<TeamMapQueryBase> {
public:
    using QueryPattern<TeamMapQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
