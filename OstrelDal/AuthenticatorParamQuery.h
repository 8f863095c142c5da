#ifndef OSTRELDAL_AUTHENTICATORPARAMQUERY_H
#define OSTRELDAL_AUTHENTICATORPARAMQUERY_H

#include "OstrelDal/AuthenticatorParamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API AuthenticatorParamQuery : public QueryPattern<AuthenticatorParamQueryBase> {
public:
    using QueryPattern<AuthenticatorParamQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
