#ifndef OSTRELDAL_PRODUCTROLEQUERY_H
#define OSTRELDAL_PRODUCTROLEQUERY_H

#include "OstrelDal/ProductRoleQueryBase.h"

namespace OstrelDal {

// The pattern, plus a select of the highest role number (of the constrained product).
class OSTRELDAL_API ProductRoleQuery : public QueryPattern<ProductRoleQueryBase> {
public:
    using QueryPattern<ProductRoleQueryBase>::QueryPattern;

    // With type max one column, MAX over "Role" under the constraints (a row without the
    // column when there is none); with any other type the select of the pattern.
    int select(Result& result, VeskDal::DalDatabase& database, QueryType type) override
    {
        return selectWithMax(result, database, type, _colRole);
    }
};

} // namespace OstrelDal

#endif
