#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERY_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERY_H

#include "OstrelDal/AuthenticationLibraryParamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(AuthenticationLibraryParam)

} // namespace OstrelDal

#endif
