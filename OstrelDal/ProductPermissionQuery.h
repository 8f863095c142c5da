#ifndef OSTRELDAL_PRODUCTPERMISSIONQUERY_H
#define OSTRELDAL_PRODUCTPERMISSIONQUERY_H

#include "OstrelDal/ProductPermissionQueryBase.h"

namespace OstrelDal {

// The pattern, plus a select of the highest permission number (of the constrained product).
class OSTRELDAL_API ProductPermissionQuery : public QueryPattern<ProductPermissionQueryBase> {
public:
    using QueryPattern<ProductPermissionQueryBase>::QueryPattern;

    // With type max one column, MAX over "Permission" under the constraints (a row without the
    // column when there is none); with any other type the select of the pattern.
    int select(Result& result, VeskDal::DalDatabase& database, QueryType type) override
    {
        return selectWithMax(result, database, type, _colPermission);
    }
};

} // namespace OstrelDal

#endif
