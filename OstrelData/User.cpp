#include "OstrelData/User.h"

#include "Corvel/StringList.h"
#include "OstrelData/Authenticator.h"
#include "OstrelData/Domain.h"
#include "OstrelData/Exception.h"
#include "OstrelData/Factory.h"
#include "OstrelData/Team.h"

namespace OstrelData {

User::User() : _pdomain(nullptr), _key("", "") {}

User::User(const Domain& domain, const std::string& strUserId, const std::string& strName,
           const std::string& strAuthenticationToken, const std::string& strContact)
    : _pdomain(&domain), _strUserId(strUserId), _strName(strName), _strAuthenticationToken(strAuthenticationToken),
      _strContact(strContact), _key(domain.domain(), strUserId)
{
}

// The maps are shared with the source until either side writes them.
User::User(const User& other) = default;

User& User::operator=(const User& other)
{
    if (this != &other) {
        _pdomain = other._pdomain;
        _strUserId = other._strUserId;
        _strName = other._strName;
        _strAuthenticationToken = other._strAuthenticationToken;
        _strContact = other._strContact;
        _pproductS = other._pproductS;
        _pteamS = other._pteamS;
        _key = other._key;
    }
    return *this;
}

User::~User() = default;

bool User::operator==(const User& other) const
{
    return domain() == other.domain() && _strUserId == other._strUserId;
}

const Domain& User::domain() const
{
    if (_pdomain == nullptr)
        OSTREL_RAISE(nNAX_NODOMAINSET, "Domain pointer is null.");
    return *_pdomain;
}

void User::update() const
{
    domain().authenticator()->updateUser(*this);
}

void User::addTeam(Team& team)
{
    domain().authenticator()->createTeamMember(team, *this);
    teams().insert_or_assign(team.team(), team);
}

void User::deleteTeam(Team& team)
{
    domain().authenticator()->deleteTeamMember(team, *this);
    const TeamMap& teamS = _pteamS.read();
    if (teamS.find(team.team()) != teamS.end())
        teams().erase(team.team());
}

bool User::hasRole(const Role& role) const
{
    const ProductMap& productS = _pproductS.read();
    ProductMap::const_iterator it = productS.find(role.product().product());
    return it != productS.end() && it->second.hasRole(role);
}

bool User::hasPermission(const Permission& permission) const
{
    const ProductMap& productS = _pproductS.read();
    ProductMap::const_iterator it = productS.find(permission.product().product());
    return it != productS.end() && it->second.hasPermission(permission);
}

bool User::isMemberOf(const Team& team) const
{
    const TeamMap& teamS = _pteamS.read();
    return teamS.find(team.team()) != teamS.end();
}

bool User::isMemberOf(const TeamMap& teamS) const
{
    const TeamMap& ownS = _pteamS.read();
    for (const auto& entry : teamS) {
        if (ownS.find(entry.first) != ownS.end())
            return true;
    }
    return false;
}

User User::fromText(const std::string& strText)
{
    static const char* const s_pszFormats = "Expected one of 'domain/userid', 'domain\\userid' or 'userid@domain'";

    Corvel::StringList pieceS;
    bool bDomainFirst = true;
    if (strText.find('/') != std::string::npos) {
        pieceS = Corvel::tokenize(strText, "/");
    } else if (strText.find('\\') != std::string::npos) {
        pieceS = Corvel::tokenize(strText, "\\");
    } else if (strText.find('@') != std::string::npos) {
        pieceS = Corvel::tokenize(strText, "@");
        bDomainFirst = false;
    } else {
        OSTREL_RAISE(nNAX_BADUSERFORMAT, s_pszFormats);
    }
    if (pieceS.size() < 2)
        OSTREL_RAISE(nNAX_BADUSERFORMAT, s_pszFormats);
    const std::string& strDomain = bDomainFirst ? pieceS[0] : pieceS[1];
    const std::string& strUserId = bDomainFirst ? pieceS[1] : pieceS[0];
    if (strDomain.empty() || strUserId.empty())
        OSTREL_RAISE(nNAX_BADUSERFORMAT, s_pszFormats);

    const DomainMap& domainS = Factory::domains();
    DomainMap::const_iterator it = domainS.find(strDomain);
    if (it == domainS.end())
        OSTREL_RAISE(nNAX_DOMAINNOTFOUND, strDomain);
    return User(it->second, strUserId, "", "", "");
}

} // namespace OstrelData
