#ifndef OSTRELDAL_PROFILEHOSTQUERY_H
#define OSTRELDAL_PROFILEHOSTQUERY_H

#include "OstrelDal/ProfileHostQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API ProfileHostQuery : public QueryPattern<ProfileHostQueryBase> {
public:
    using QueryPattern<ProfileHostQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
