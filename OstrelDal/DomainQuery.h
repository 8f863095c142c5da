#ifndef OSTRELDAL_DOMAINQUERY_H
#define OSTRELDAL_DOMAINQUERY_H

#include "OstrelDal/DomainQueryBase.h"

namespace OstrelDal {

// The pattern, plus a constraint on the customer of the domains.
class OSTRELDAL_API DomainQuery : public QueryPattern<DomainQueryBase> {
public:
    using QueryPattern<DomainQueryBase>::QueryPattern;
    using QueryPattern<DomainQueryBase>::addConstraints;

    // Customer = value, after the key constraints.
    void constrainCustomer(const VeskDal::SqlColumnPtr& value) { _valCustomerConstraint = value; }
    void addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints) override;

protected:
    VeskDal::SqlColumnPtr _valCustomerConstraint;
};

} // namespace OstrelDal

#endif
