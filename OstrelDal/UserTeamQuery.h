#ifndef OSTRELDAL_USERTEAMQUERY_H
#define OSTRELDAL_USERTEAMQUERY_H

#include "OstrelDal/UserTeamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
class OSTRELDAL_API UserTeamQuery : public QueryPattern<UserTeamQueryBase> {
public:
    using QueryPattern<UserTeamQueryBase>::QueryPattern;
};

} // namespace OstrelDal

#endif
