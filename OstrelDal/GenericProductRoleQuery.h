#ifndef OSTRELDAL_GENERICPRODUCTROLEQUERY_H
#define OSTRELDAL_GENERICPRODUCTROLEQUERY_H

#include "OstrelDal/GenericProductRoleQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API GenericProductRoleQuery : public QueryPattern<GenericProductRoleQueryBase> {
public:
    using QueryPattern<GenericProductRoleQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
