#ifndef OSTRELDAL_PRODUCTROLEPERMISSIONQUERY_H
#define OSTRELDAL_PRODUCTROLEPERMISSIONQUERY_H

#include "OstrelDal/ProductRolePermissionQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API ProductRolePermissionQuery : public QueryPattern<ProductRolePermissionQueryBase> {
public:
    using QueryPattern<ProductRolePermissionQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
