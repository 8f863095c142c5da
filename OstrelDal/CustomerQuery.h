#ifndef OSTRELDAL_CUSTOMERQUERY_H
#define OSTRELDAL_CUSTOMERQUERY_H

#include "OstrelDal/CustomerQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API CustomerQuery : public QueryPattern<CustomerQueryBase> {
public:
    using QueryPattern<CustomerQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
