#ifndef OSTRELDAL_TEAMPRODUCTROLEQUERY_H
#define OSTRELDAL_TEAMPRODUCTROLEQUERY_H

#include "OstrelDal/TeamProductRoleQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API TeamProductRoleQuery : public QueryPattern<TeamProductRoleQueryBase> {
public:
    using QueryPattern<TeamProductRoleQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
