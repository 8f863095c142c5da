#ifndef OSTRELDAL_GENERICPRODUCTPERMISSIONQUERY_H
#define OSTRELDAL_GENERICPRODUCTPERMISSIONQUERY_H

#include "OstrelDal/GenericProductPermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API GenericProductPermissionQuery : public QueryPattern<GenericProductPermissionQueryBase> {
public:
    using QueryPattern<GenericProductPermissionQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
