#ifndef OSTRELDAL_PRODUCTQUERY_H
#define OSTRELDAL_PRODUCTQUERY_H

#include "OstrelDal/ProductQueryBase.h"

namespace OstrelDal {

// The pattern, plus a select of the highest product number.
class OSTRELDAL_API ProductQuery : public QueryPattern<ProductQueryBase> {
public:
    using QueryPattern<ProductQueryBase>::QueryPattern;

    // With type max one column, MAX over "Product" under the constraints (a row without the
    // column when there is none); with any other type the select of the pattern.
    int select(Result& result, VeskDal::DalDatabase& database, QueryType type) override
    {
        return selectWithMax(result, database, type, _colProduct);
    }
};

} // namespace OstrelDal

#endif
