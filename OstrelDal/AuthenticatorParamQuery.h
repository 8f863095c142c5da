#ifndef OSTRELDAL_AUTHENTICATORPARAMQUERY_H
#define OSTRELDAL_AUTHENTICATORPARAMQUERY_H

#include "OstrelDal/AuthenticatorParamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(AuthenticatorParam)

} // namespace OstrelDal

#endif
