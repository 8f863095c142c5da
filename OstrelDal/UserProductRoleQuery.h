#ifndef OSTRELDAL_USERPRODUCTROLEQUERY_H
#define OSTRELDAL_USERPRODUCTROLEQUERY_H

#include "OstrelDal/UserProductRoleQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API UserProductRoleQuery : public QueryPattern<UserProductRoleQueryBase> {
public:
    using QueryPattern<UserProductRoleQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
