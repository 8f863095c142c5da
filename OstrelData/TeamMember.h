#ifndef OSTRELDATA_TEAMMEMBER_H
#define OSTRELDATA_TEAMMEMBER_H

#include <map>

#include "OstrelData/User.h"

namespace OstrelData {

// A user as a member of a team.
class OSTRELDATA_API TeamMember : public User {
public:
    TeamMember();
    TeamMember(User user, bool bIsLead);
    TeamMember(const TeamMember& other);
    TeamMember& operator=(const TeamMember& other);
    ~TeamMember() override;

    bool isLead() const { return _bIsLead; }
    void setLead(bool bIsLead) { _bIsLead = bIsLead; }

private:
    bool _bIsLead;
};

// Members by (domain name, user id).
class OSTRELDATA_API TeamMemberMap : public std::map<User::Key, TeamMember> {
public:
    using std::map<User::Key, TeamMember>::map;
};

} // namespace OstrelData

#endif
