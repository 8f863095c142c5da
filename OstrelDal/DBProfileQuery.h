#ifndef OSTRELDAL_DBPROFILEQUERY_H
#define OSTRELDAL_DBPROFILEQUERY_H

#include "OstrelDal/DBProfileQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API DBProfileQuery : public QueryPattern<DBProfileQueryBase> {
public:
    using QueryPattern<DBProfileQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
