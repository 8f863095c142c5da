#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERY_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERY_H

#include "OstrelDal/AuthenticationLibraryParamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API AuthenticationLibraryParamQuery : public QueryPattern<AuthenticationLibraryParamQueryBase> {
public:
    using QueryPattern<AuthenticationLibraryParamQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
