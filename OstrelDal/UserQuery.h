#ifndef OSTRELDAL_USERQUERY_H
#define OSTRELDAL_USERQUERY_H

#include "OstrelDal/UserQueryBase.h"

namespace OstrelDal {

// The pattern, plus a constraint on the authentication token and a search on user id and name.
class OSTRELDAL_API UserQuery : public QueryPattern<UserQueryBase> {
public:
    using QueryPattern<UserQueryBase>::QueryPattern;
    using QueryPattern<UserQueryBase>::addConstraints;

    // AuthenticationToken = value.
    void constrainAuthenticationToken(const VeskDal::SqlColumnPtr& value) { _valAuthenticationTokenConstraint = value; }
    // (UserId LIKE value OR Name LIKE value), the value taken as the pattern itself (% and _ are
    // wildcards).
    void constrainSearch(const VeskDal::SqlValue& value) { _valSearchConstraint = value; }
    // The key constraints (when bAddBaseConstraints), then the token, then the search.
    void addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool bAddBaseConstraints) override;

protected:
    VeskDal::SqlColumnPtr _valAuthenticationTokenConstraint;
    VeskDal::SqlValue _valSearchConstraint;
};

} // namespace OstrelDal

#endif
