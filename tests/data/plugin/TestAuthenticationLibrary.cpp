// An authentication library over a small fixed table of users, passwords and
// teams. It implements authenticate, user, team, findUsers and passwd and
// leaves the other operations to the base class.
//
// Library parameters: "fail" makes the entry point return no library.
// Authenticator parameters: "refuse" makes the library decline the domain.

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "OstrelData/OstrelData.h"

using namespace OstrelData;

namespace {

struct Membership {
    int nTeam;
    bool bIsLead;
};

struct Entry {
    const char* pszUserId;
    const char* pszPassword;
    const char* pszName;
    const char* pszContact;
    std::vector<Membership> teamS;
};

const Entry g_entryS[] = {
    {"jdoe", "secret", "John Doe", "1 Main Street", {{10, true}, {11, false}}},
    {"asmith", "pa55word", "Alice Smith", "2 High Street", {{10, false}}},
    {"bwong", "letmein", "Bo Wong", "3 Low Road", {{12, true}}},
};

const Entry* findEntry(const std::string& strUserId)
{
    for (const Entry& entry : g_entryS) {
        if (strUserId == entry.pszUserId)
            return &entry;
    }
    return nullptr;
}

// 128 random bits from the operating system, as 32 hex digits.
std::string newSessionId()
{
    unsigned char abRandom[16];
    size_t nHave = 0;
    while (nHave < sizeof abRandom) {
        ssize_t nGot = getrandom(abRandom + nHave, sizeof abRandom - nHave, 0);
        if (nGot < 0) {
            if (errno == EINTR)
                continue;
            OSTREL_RAISE(nNAX_AUTHENTICATIONFAILED, std::string("No random session id: ") + std::strerror(errno));
        }
        nHave += static_cast<size_t>(nGot);
    }
    static const char s_achHex[] = "0123456789abcdef";
    std::string strId;
    strId.reserve(2 * sizeof abRandom);
    for (unsigned char ch : abRandom) {
        strId += s_achHex[ch >> 4];
        strId += s_achHex[ch & 0x0f];
    }
    return strId;
}

class TableAuthenticator : public Authenticator {
public:
    TableAuthenticator(const InitMap& initAuthenticator, const Domain& domain, const std::string& strDescription,
                       int nAuthenticationLibrary)
        : Authenticator(initAuthenticator, domain, strDescription, nAuthenticationLibrary)
    {
        for (const Entry& entry : g_entryS)
            _passwordS[entry.pszUserId] = entry.pszPassword;
    }

    AuthenticatedUser authenticate(const User& user, const AuthenticationToken& authToken,
                                   const Profile& profile) override
    {
        const Entry* pentry = checked(user.userId(), authToken);
        User found(user.domain(), pentry->pszUserId, pentry->pszName, "", pentry->pszContact);
        return AuthenticatedUser(found, SessionString(newSessionId()), profile);
    }

    void user(User& user, bool) override
    {
        const Entry* pentry = findEntry(user.userId());
        if (pentry == nullptr)
            OSTREL_RAISE(nNAX_USERNOTFOUND, user.userId());
        user.setName(pentry->pszName);
        user.setContact(pentry->pszContact);
    }

    void team(Team& team) override
    {
        for (const Entry& entry : g_entryS) {
            for (const Membership& membership : entry.teamS) {
                if (membership.nTeam != team.team())
                    continue;
                User member(servedDomain(), entry.pszUserId, entry.pszName, "", entry.pszContact);
                team.members().insert_or_assign(member.key(), TeamMember(member, membership.bIsLead));
            }
        }
    }

    void findUsers(UserMap& userS, const std::string& strText) override
    {
        for (const Entry& entry : g_entryS) {
            if (std::string(entry.pszUserId).find(strText) == std::string::npos &&
                std::string(entry.pszName).find(strText) == std::string::npos)
                continue;
            User found(servedDomain(), entry.pszUserId, entry.pszName, "", entry.pszContact);
            userS.insert_or_assign(found.key(), found);
        }
    }

    bool passwd(const AuthenticatedUser& user, AuthenticationToken& authTokenCurrent,
                AuthenticationToken& authTokenNew) override
    {
        checked(user.userId(), authTokenCurrent);
        if (authTokenNew.str().empty())
            OSTREL_RAISE(nNAX_UPDATEFAILED, "Empty password.");
        _passwordS[user.userId()] = authTokenNew.str();
        return true;
    }

private:
    // The entry of a user whose token matches; a refusal does not say which part was wrong.
    const Entry* checked(const std::string& strUserId, const AuthenticationToken& authToken) const
    {
        const Entry* pentry = findEntry(strUserId);
        std::map<std::string, std::string>::const_iterator it = _passwordS.find(strUserId);
        if (pentry == nullptr || it == _passwordS.end() || it->second != authToken.str())
            OSTREL_RAISE(nNAX_AUTHENTICATIONFAILED, "Bad user id or password.");
        return pentry;
    }

    // The registered domain when there is one, so members point into the registry.
    const Domain& servedDomain() const
    {
        DomainMap::const_iterator it = Factory::domains().find(domain().domain());
        return it != Factory::domains().end() ? it->second : domain();
    }

    std::map<std::string, std::string> _passwordS;
};

class TableLibrary : public AuthenticationLibrary {
public:
    explicit TableLibrary(const AuthenticationLibrary* ptemplate) : AuthenticationLibrary(ptemplate) {}

    Authenticator* authenticator(const Domain& domain, const std::string& strDescription,
                                 const InitMap& initAuthenticator) override
    {
        if (initAuthenticator.count("refuse") != 0)
            return nullptr;
        return new TableAuthenticator(initAuthenticator, domain, strDescription, authenticationLibrary());
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) AuthenticationLibrary* library(AuthenticationLibrary* ptemplate)
{
    if (ptemplate->libraryInit().count("fail") != 0)
        return nullptr;
    return new TableLibrary(ptemplate);
}
