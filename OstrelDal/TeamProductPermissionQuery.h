#ifndef OSTRELDAL_TEAMPRODUCTPERMISSIONQUERY_H
#define OSTRELDAL_TEAMPRODUCTPERMISSIONQUERY_H

#include "OstrelDal/TeamProductPermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API TeamProductPermissionQuery : public QueryPattern<TeamProductPermissionQueryBase> {
public:
    using QueryPattern<TeamProductPermissionQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
