#include "OstrelData/TeamMember.h"

namespace OstrelData {

TeamMember::TeamMember() : _bIsLead(false) {}

TeamMember::TeamMember(User user, bool bIsLead) : User(std::move(user)), _bIsLead(bIsLead) {}

TeamMember::TeamMember(const TeamMember& other) = default;

TeamMember& TeamMember::operator=(const TeamMember& other)
{
    if (this != &other) {
        User::operator=(other);
        _bIsLead = other._bIsLead;
    }
    return *this;
}

TeamMember::~TeamMember() = default;

} // namespace OstrelData
