#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYQUERY_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYQUERY_H

#include "OstrelDal/AuthenticationLibraryQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(AuthenticationLibrary)

} // namespace OstrelDal

#endif
