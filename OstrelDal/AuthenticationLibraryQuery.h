#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYQUERY_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYQUERY_H

#include "OstrelDal/AuthenticationLibraryQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API AuthenticationLibraryQuery : public QueryPattern<AuthenticationLibraryQueryBase> {
public:
    using QueryPattern<AuthenticationLibraryQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
