#ifndef OSTRELDAL_USERPRODUCTPERMISSIONQUERY_H
#define OSTRELDAL_USERPRODUCTPERMISSIONQUERY_H

#include "OstrelDal/UserProductPermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API UserProductPermissionQuery : public QueryPattern<UserProductPermissionQueryBase> {
public:
    using QueryPattern<UserProductPermissionQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
