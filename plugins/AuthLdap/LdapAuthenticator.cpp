#include "AuthLdap/LdapAuthenticator.h"

#include <ldap.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <cstring>

#include "AuthLdap/LdapEscape.h"
#include "Corvel/EventLogger.h"
#include "OstrelData/Exception.h"
#include "OstrelData/Factory.h"
#include "OstrelData/SessionString.h"
#include "OstrelData/TeamMember.h"
#include "OstrelData/XTeam.h"

namespace AuthLdap {

namespace {

// The legend of every refused login: it must not tell an unknown user from a wrong password.
const char* const pszRefused = "Bad user id or password.";

constexpr size_t nMaxUserIdLength = 255;

std::string randomHex(size_t nBytes)
{
    std::vector<unsigned char> abRandom(nBytes);
    size_t nHave = 0;
    while (nHave < nBytes) {
        ssize_t nGot = getrandom(abRandom.data() + nHave, nBytes - nHave, 0);
        if (nGot < 0) {
            if (errno == EINTR) continue;
            OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, std::string("No random bytes: ") + std::strerror(errno));
        }
        nHave += static_cast<size_t>(nGot);
    }
    static const char s_achHex[] = "0123456789abcdef";
    std::string str;
    for (unsigned char ch : abRandom) {
        str += s_achHex[ch >> 4];
        str += s_achHex[ch & 0x0f];
    }
    return str;
}

void logSecurity(const std::string& strText)
{
    Corvel::EventLogger::theLogger().logWarning(strText, Corvel::layerSecurity);
}

std::string lower(std::string str)
{
    for (char& ch : str)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return str;
}

// The attribute of group entries that lists members, by style.
std::string memberAttribute(GroupStyle style)
{
    switch (style) {
    case GroupStyle::member:
        return "member";
    case GroupStyle::uniqueMember:
        return "uniqueMember";
    case GroupStyle::memberUid:
        return "memberUid";
    default:
        return std::string();
    }
}

// Valid UTF-8 without control bytes: what a user id may be before it goes to the directory, which
// would answer other bytes with errors of its own.
bool isPlainText(const std::string& str)
{
    size_t i = 0;
    while (i < str.size()) {
        const unsigned char ch = static_cast<unsigned char>(str[i]);
        if (ch < 0x20 || ch == 0x7f) return false;
        size_t nMore = 0;
        unsigned long nCode = ch;
        if (ch >= 0xf0 && ch <= 0xf4) {
            nMore = 3;
            nCode = ch & 0x07;
        } else if (ch >= 0xe0 && ch <= 0xef) {
            nMore = 2;
            nCode = ch & 0x0f;
        } else if (ch >= 0xc2 && ch < 0xe0) {
            nMore = 1;
            nCode = ch & 0x1f;
        } else if (ch >= 0x80) {
            return false;
        }
        if (nMore != 0 && i + nMore >= str.size()) return false;
        for (size_t j = 1; j <= nMore; ++j) {
            const unsigned char chNext = static_cast<unsigned char>(str[i + j]);
            if ((chNext & 0xc0) != 0x80) return false;
            nCode = (nCode << 6) | (chNext & 0x3f);
        }
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        if ((nMore == 2 && nCode < 0x800) || (nMore == 3 && (nCode < 0x10000 || nCode > 0x10ffff)) ||
            (nCode >= 0xd800 && nCode <= 0xdfff))
            return false;
        i += nMore + 1;
    }
    return true;
}

// Whether strDn is strBase or lies beneath it, comparing RDNs as the directory would (names and
// values without regard to case or escaping). An empty base holds everything.
bool dnIsUnder(const std::string& strDn, const std::string& strBase)
{
    if (strBase.empty()) return true;
    LDAPDN dn = nullptr;
    LDAPDN base = nullptr;
    bool bUnder = false;
    if (ldap_str2dn(strDn.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && dn != nullptr &&
        ldap_str2dn(strBase.c_str(), &base, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && base != nullptr) {
        size_t nDn = 0;
        size_t nBase = 0;
        while (dn[nDn] != nullptr)
            ++nDn;
        while (base[nBase] != nullptr)
            ++nBase;
        bUnder = nBase <= nDn;
        for (size_t i = 0; bUnder && i < nBase; ++i) {
            LDAPRDN rdn = dn[nDn - nBase + i];
            LDAPRDN rdnBase = base[i];
            size_t j = 0;
            for (; bUnder && rdn[j] != nullptr && rdnBase[j] != nullptr; ++j) {
                const LDAPAVA* pava = rdn[j];
                const LDAPAVA* pavaBase = rdnBase[j];
                bUnder = lower(std::string(pava->la_attr.bv_val, pava->la_attr.bv_len)) ==
                             lower(std::string(pavaBase->la_attr.bv_val, pavaBase->la_attr.bv_len)) &&
                         lower(std::string(pava->la_value.bv_val, pava->la_value.bv_len)) ==
                             lower(std::string(pavaBase->la_value.bv_val, pavaBase->la_value.bv_len));
            }
            if (bUnder) bUnder = rdn[j] == nullptr && rdnBase[j] == nullptr;
        }
    }
    if (dn) ldap_dnfree(dn);
    if (base) ldap_dnfree(base);
    return bUnder;
}

bool looksLikeDn(const std::string& strName)
{
    return strName.find('=') != std::string::npos;
}

} // namespace

std::string GroupNames::key(const std::string& strName)
{
    // A DN as the directory compares it: one spelling of its RDNs, without regard to case.
    if (looksLikeDn(strName)) {
        LDAPDN dn = nullptr;
        if (ldap_str2dn(strName.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && dn != nullptr) {
            char* pszDn = nullptr;
            std::string strKey;
            if (ldap_dn2str(dn, &pszDn, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && pszDn != nullptr) strKey = pszDn;
            if (pszDn) ldap_memfree(pszDn);
            ldap_dnfree(dn);
            if (!strKey.empty()) return lower(strKey);
        }
    }
    return lower(strName);
}

void GroupNames::add(const std::string& strName)
{
    nameS.insert(key(strName));
}

bool GroupNames::has(const std::string& strName) const
{
    return nameS.count(key(strName)) != 0;
}

LdapAuthenticator::LdapAuthenticator(const OstrelData::InitMap& initLibrary,
                                     const OstrelData::InitMap& initAuthenticator, const OstrelData::Domain& domain,
                                     const std::string& strDescription, int nAuthenticationLibrary)
    : OstrelData::Authenticator(initAuthenticator, domain, strDescription, nAuthenticationLibrary),
      _settings(LdapSettings::from(initLibrary, initAuthenticator)),
      _strStandInDn("cn=ostrel-stand-in-" + randomHex(12) + "," + _settings.strUserBase),
      _pservicePool(LdapPool::shared(_settings, true)),
      _pbindPool(LdapPool::shared(_settings, false))
{
    setUserTools(_settings.bAllowWrites);
}

std::vector<std::string> LdapAuthenticator::userAttributes() const
{
    std::vector<std::string> attributeS{_settings.strAttrUserId, _settings.strAttrName, _settings.strAttrContact};
    if (_settings.groupStyle == GroupStyle::memberOf) attributeS.push_back("memberOf");
    return attributeS;
}

const OstrelData::Domain& LdapAuthenticator::servedDomain() const
{
    OstrelData::DomainMap::const_iterator it = OstrelData::Factory::domains().find(domain().domain());
    return it != OstrelData::Factory::domains().end() ? it->second : domain();
}

std::string LdapAuthenticator::userIdOf(const LdapEntry& entry) const
{
    // One value or none: where users may add values to their own entries, a second value would
    // let one log in as the other.
    const std::vector<std::string>& valueS = entry.all(_settings.strAttrUserId);
    return valueS.size() == 1 ? valueS.front() : std::string();
}

OstrelData::User LdapAuthenticator::userOf(const LdapEntry& entry, const std::string& strUserId) const
{
    return OstrelData::User(servedDomain(), strUserId, entry.first(_settings.strAttrName), "",
                            entry.first(_settings.strAttrContact));
}

void LdapAuthenticator::withReader(const std::function<void(LdapConnection&)>& fn) const
{
    _pservicePool->run(fn);
}

void LdapAuthenticator::refuse(const std::string& strUserId, const std::string& strReason) const
{
    static Corvel::LogThrottle s_throttle("refused logins");
    std::string strSummary;
    const std::string strShown = domain().domain() + "/" + Corvel::EventLogger::clip(strUserId);
    const bool bLog = s_throttle.admit(strShown, strSummary);
    if (!strSummary.empty()) logSecurity(strSummary);
    if (bLog) logSecurity("Login refused for " + strShown + ": " + strReason);
    OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, pszRefused);
}

bool LdapAuthenticator::findEntry(LdapConnection& connection, const std::string& strUserId, LdapEntry& entry,
                                  const std::vector<std::string>& attributeS) const
{
    // No entry has an id that is no user id: asked for one, a directory refuses the DN it makes
    // (which would read as the directory failing) or finds nothing.
    if (strUserId.empty() || strUserId.size() > nMaxUserIdLength || !isPlainText(strUserId)) return false;
    std::vector<LdapEntry> entryS;
    bool bTruncated = false;  // a directory with a lower limit of its own may hide a second entry
    if (_settings.searchThenBind()) {
        entryS = connection.search(_settings.strUserBase, _settings.nUserScope,
                                   fillTemplate(_settings.strUserFilter, escapeFilterValue(strUserId)), attributeS,
                                   2, &bTruncated);
    } else {
        entryS = connection.search(fillTemplate(_settings.strUserDnTemplate, escapeDnValue(strUserId)),
                                   LDAP_SCOPE_BASE, "(objectClass=*)", attributeS, 2, &bTruncated);
    }
    if (entryS.size() != 1 || bTruncated) return false;
    entry = std::move(entryS.front());
    return true;
}

bool LdapAuthenticator::dnToBind(const std::string& strUserId, std::string& strDn, LdapEntry& entry,
                                 const std::vector<std::string>& attributeS)
{
    if (!_settings.searchThenBind()) {
        strDn = fillTemplate(_settings.strUserDnTemplate, escapeDnValue(strUserId));
        return true;
    }
    bool bFound = false;
    withReader([&](LdapConnection& connection) { bFound = findEntry(connection, strUserId, entry, attributeS); });
    // An unknown (or ambiguous) user costs a bind like a known one: on a DN no entry has.
    strDn = bFound ? entry.strDn : _strStandInDn;
    return bFound;
}

OstrelData::AuthenticatedUser LdapAuthenticator::authenticate(const OstrelData::User& user,
                                                              const OstrelData::AuthenticationToken& authToken,
                                                              const OstrelData::Profile& profile)
{
    return login(user, authToken, profile, nullptr);
}

OstrelData::AuthenticatedUser LdapAuthenticator::authenticateStamped(const OstrelData::User& user,
                                                                     const OstrelData::AuthenticationToken& authToken,
                                                                     const OstrelData::Profile& profile,
                                                                     std::string& strStamp)
{
    return login(user, authToken, profile, &strStamp);
}

OstrelData::AuthenticatedUser LdapAuthenticator::login(const OstrelData::User& user,
                                                       const OstrelData::AuthenticationToken& authToken,
                                                       const OstrelData::Profile& profile, std::string* pstrStamp)
{
    const std::string& strUserId = user.userId();
    const std::string& strPassword = authToken.str();
    // An empty password would make the bind anonymous, which "succeeds": refused before any bind.
    if (strPassword.empty()) refuse(strUserId, "empty password");
    if (strUserId.empty() || strUserId.size() > nMaxUserIdLength || !isPlainText(strUserId))
        refuse(strUserId, "bad user id");

    std::string strDn;
    LdapEntry entry;
    // Searching before the bind, the stamp is read by that search.
    const bool bStampBeforeBind = pstrStamp != nullptr && _settings.searchThenBind();
    std::vector<std::string> attributeS = userAttributes();
    if (bStampBeforeBind) {
        const std::vector<std::string> stampS = stampAttributes();
        attributeS.insert(attributeS.end(), stampS.begin(), stampS.end());
    }
    const bool bKnown = dnToBind(strUserId, strDn, entry, attributeS);
    bool bBound = false;
    GroupNames groupS;
    const bool bReadAsUser = _settings.strBindDn.empty();
    std::chrono::steady_clock::duration tookBind{};
    _pbindPool->run([&](LdapConnection& connection) {
        const auto tBind = std::chrono::steady_clock::now();
        bBound = connection.bind(strDn, strPassword);
        tookBind = std::chrono::steady_clock::now() - tBind;
        if (!bBound || !bKnown || !bReadAsUser) return;
        // Without a service account the user reads his own entry and groups.
        if (!_settings.searchThenBind()) {
            std::vector<LdapEntry> entryS =
                connection.search(strDn, LDAP_SCOPE_BASE, "(objectClass=*)", userAttributes(), 1);
            if (!entryS.empty()) entry = std::move(entryS.front());
            if (entry.strDn.empty()) entry.strDn = strDn;
        }
        groupS = groupsOf(connection, entry);
    });
    // A DN with no entry (the stand-in, or one a template made of an unknown id) is refused before
    // the directory hashes anything, a real one after: every refused bind waits as long as binds
    // that were hashed have lately taken, so that the time does not tell which ids exist. A found
    // entry was hashed whatever the answer; under a template only a success tells, so there the
    // padding starts with the first login.
    const long long nBindUs = std::chrono::duration_cast<std::chrono::microseconds>(tookBind).count();
    if (bBound || (bKnown && _settings.searchThenBind())) {
        const long long nAverage = _nKnownBindUs.load(std::memory_order_relaxed);
        _nKnownBindUs.store(nAverage == 0 ? nBindUs : (7 * nAverage + nBindUs) / 8, std::memory_order_relaxed);
    }
    if (!bBound) {
        const long long nPadUs =
            std::min(_nKnownBindUs.load(std::memory_order_relaxed), _settings.nTimeoutMs * 1000LL) - nBindUs;
        if (nPadUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(nPadUs));
    }
    if (!bKnown) refuse(strUserId, "no such user");
    if (!bBound) refuse(strUserId, "wrong password or no such user");
    if (!bReadAsUser) {
        withReader([&](LdapConnection& connection) {
            if (!_settings.searchThenBind()) {
                std::vector<LdapEntry> entryS =
                    connection.search(strDn, LDAP_SCOPE_BASE, "(objectClass=*)", userAttributes(), 1);
                if (!entryS.empty()) entry = std::move(entryS.front());
                if (entry.strDn.empty()) entry.strDn = strDn;
            }
            groupS = groupsOf(connection, entry);
        });
    }
    // The id the model knows him by is his entry's, not the spelling he typed: the directory binds
    // "ALICE" and " alice" as alice, and what was revoked from alice must hold for them too.
    const std::string strKnownId = userIdOf(entry);
    if (strKnownId.empty()) refuse(strUserId, "his entry shows no " + _settings.strAttrUserId + " (attr_user_id)");
    OstrelData::User found = userOf(entry, strKnownId);
    addTeams(found, groupS);
    if (pstrStamp != nullptr)
        *pstrStamp = bStampBeforeBind ? stampBeforeBind(entry, strKnownId) : credentialStamp(strKnownId);
    return OstrelData::AuthenticatedUser(found, OstrelData::SessionString(randomHex(16)), profile);
}

GroupNames LdapAuthenticator::groupsOf(LdapConnection& connection, const LdapEntry& entry) const
{
    GroupNames groupS;
    const std::string strMemberAttr = memberAttribute(_settings.groupStyle);
    const std::vector<std::string> groupAttributeS{_settings.strGroupNameAttr, "memberOf"};
    switch (_settings.groupStyle) {
    case GroupStyle::none:
        break;
    case GroupStyle::memberOf: {
        std::vector<std::string> frontier = entry.all("memberOf");
        std::set<std::string> seenS;
        for (int nDepth = 0; !frontier.empty() && nDepth <= (_settings.bNested ? _settings.nNestedDepth : 0);
             ++nDepth) {
            std::vector<std::string> next;
            for (const std::string& strGroupDn : frontier) {
                // Groups count only where the operator keeps them and as group_filter describes
                // them, read from the directory: a group of the same name elsewhere (one its
                // members run themselves) is another group.
                if (!dnIsUnder(strGroupDn, _settings.strGroupBase) || !seenS.insert(GroupNames::key(strGroupDn)).second)
                    continue;
                for (const LdapEntry& group : connection.search(strGroupDn, LDAP_SCOPE_BASE, _settings.strGroupFilter,
                                                                groupAttributeS, 1)) {
                    groupS.add(group.strDn);
                    for (const std::string& str : group.all(_settings.strGroupNameAttr))
                        groupS.add(str);
                    if (_settings.bNested)
                        for (const std::string& str : group.all("memberOf"))
                            next.push_back(str);
                }
            }
            frontier.swap(next);
        }
        break;
    }
    case GroupStyle::memberUid: {
        std::string strUid = userIdOf(entry);
        if (strUid.empty()) break;
        for (const LdapEntry& group :
             connection.search(_settings.strGroupBase, _settings.nGroupScope,
                               "(&" + _settings.strGroupFilter + "(memberUid=" + escapeFilterValue(strUid) + "))",
                               {_settings.strGroupNameAttr}, _settings.nSizeLimit)) {
            groupS.add(group.strDn);
            for (const std::string& str : group.all(_settings.strGroupNameAttr))
                groupS.add(str);
        }
        break;
    }
    case GroupStyle::member:
    case GroupStyle::uniqueMember: {
        std::vector<std::string> frontier{entry.strDn};
        std::set<std::string> seenS;
        for (int nDepth = 0; !frontier.empty() && nDepth <= (_settings.bNested ? _settings.nNestedDepth : 0);
             ++nDepth) {
            std::vector<std::string> next;
            for (const std::string& strDn : frontier) {
                for (const LdapEntry& group : connection.search(
                         _settings.strGroupBase, _settings.nGroupScope,
                         "(&" + _settings.strGroupFilter + "(" + strMemberAttr + "=" + escapeFilterValue(strDn) + "))",
                         {_settings.strGroupNameAttr}, _settings.nSizeLimit)) {
                    if (!seenS.insert(group.strDn).second) continue;
                    groupS.add(group.strDn);
                    for (const std::string& str : group.all(_settings.strGroupNameAttr))
                        groupS.add(str);
                    next.push_back(group.strDn);
                }
            }
            frontier.swap(next);
        }
        break;
    }
    }
    return groupS;
}

void LdapAuthenticator::addTeams(OstrelData::User& user, const GroupNames& groupS) const
{
    // Every mapping of one of his groups gives its team; a lead group's members lead the team and
    // so are in it too. The alien maps are reloaded with the model (xteams() is not emptied).
    const OstrelData::TeamMap& teamS = OstrelData::Factory::teams();
    const std::string& strDomain = domain().domain();
    for (const auto& alien : OstrelData::Factory::aliens()) {
        if (alien.first.first != strDomain) continue;
        for (const auto& mapping : alien.second) {
            const OstrelData::XTeam* pxteam = mapping.second;
            if (pxteam == nullptr) continue;
            if (!groupS.has(pxteam->alienGroup()) &&
                (pxteam->alienGroupLeadGroup().empty() || !groupS.has(pxteam->alienGroupLeadGroup())))
                continue;
            OstrelData::TeamMap::const_iterator it = teamS.find(pxteam->team());
            if (it != teamS.end()) user.teams().insert_or_assign(pxteam->team(), it->second);
        }
    }
}

void LdapAuthenticator::user(OstrelData::User& user, bool)
{
    LdapEntry entry;
    bool bFound = false;
    GroupNames groupS;
    withReader([&](LdapConnection& connection) {
        bFound = findEntry(connection, user.userId(), entry);
        if (bFound) groupS = groupsOf(connection, entry);
    });
    // Another spelling of an id is not that user: it would be a second key for one person.
    if (!bFound || userIdOf(entry) != user.userId())
        OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, domain().domain() + "/" + user.userId());
    user.setName(entry.first(_settings.strAttrName));
    user.setContact(entry.first(_settings.strAttrContact));
    user.teams().clear();
    addTeams(user, groupS);
}

std::vector<std::string> LdapAuthenticator::stampAttributes() const
{
    std::vector<std::string> attributeS = _settings.stampAttributeS;
    attributeS.push_back(_settings.strAttrUserId);
    // The marks of a lock are asked for whatever stamp_attrs names: an operational attribute such
    // as pwdAccountLockedTime is never sent unasked, and a lock must end the kept sessions.
    attributeS.insert(attributeS.end(), {"userAccountControl", "pwdAccountLockedTime", "lockoutTime"});
    return attributeS;
}

std::string LdapAuthenticator::credentialStamp(const std::string& strUserId)
{
    LdapEntry entry;
    bool bFound = false;
    withReader([&](LdapConnection& connection) { bFound = findEntry(connection, strUserId, entry, stampAttributes()); });
    return bFound && userIdOf(entry) == strUserId ? stampOf(entry) : std::string();
}

std::string LdapAuthenticator::stampBeforeBind(const LdapEntry& entry, const std::string& strKnownId)
{
    std::string strStamp = stampOf(entry);
    if (!strStamp.empty()) return strStamp;
    // The entry showed a lock, which the bind may have cleared (its time had run out): read again,
    // the stamp holds only if nothing but the marks of the lock changed since the search.
    LdapEntry after;
    bool bFound = false;
    withReader([&](LdapConnection& connection) { bFound = findEntry(connection, strKnownId, after, stampAttributes()); });
    if (!bFound || userIdOf(after) != strKnownId || stampValues(after, false) != stampValues(entry, false))
        return std::string();
    return stampOf(after);
}

std::string LdapAuthenticator::stampValues(const LdapEntry& entry, bool bWithLocks) const
{
    static const char* const apszLockMarkS[] = {"pwdaccountlockedtime", "lockouttime", "useraccountcontrol"};
    // Names with values: one attribute's value cannot pass for another's.
    std::string strValues = "entry";
    for (const std::string& strAttribute : _settings.stampAttributeS) {
        const std::string strName = lower(strAttribute);
        if (!bWithLocks && std::find(std::begin(apszLockMarkS), std::end(apszLockMarkS), strName) != std::end(apszLockMarkS))
            continue;
        for (const std::string& strValue : entry.all(strAttribute))
            strValues += "\n" + strName + "=" + strValue;
    }
    return strValues;
}

std::string LdapAuthenticator::stampOf(const LdapEntry& entry)
{
    if (!entry.all("pwdAccountLockedTime").empty()) return std::string();
    const std::string strLockout = entry.first("lockoutTime");
    if (!strLockout.empty() && strLockout != "0") return std::string();
    // An account the directory has disabled (its account-control flag 2).
    const std::string strControl = entry.first("userAccountControl");
    if (!strControl.empty() && (std::strtol(strControl.c_str(), nullptr, 10) & 2) != 0) return std::string();
    const std::string strStamp = stampValues(entry, true);
    if (strStamp == "entry" && !_bStampWarned.exchange(true))
        Corvel::EventLogger::theLogger().logWarning(
            "LDAP domain " + domain().domain() + ": no attribute of stamp_attrs is readable in its users' entries, so " +
                "a kept session cannot see a password change (it ends with the account or its lifetime)",
            Corvel::layerPlugin);
    return strStamp;
}

std::vector<LdapEntry> LdapAuthenticator::groupEntries(LdapConnection& connection, const std::string& strGroup) const
{
    std::vector<std::string> attributeS{_settings.strGroupNameAttr};
    const std::string strMemberAttr = memberAttribute(_settings.groupStyle);
    if (!strMemberAttr.empty()) attributeS.push_back(strMemberAttr);
    if (looksLikeDn(strGroup))
        return connection.search(strGroup, LDAP_SCOPE_BASE, _settings.strGroupFilter, attributeS, 1);
    const std::string strBase = _settings.strGroupBase.empty() ? parentDn(_settings.strUserBase) : _settings.strGroupBase;
    return connection.search(strBase, _settings.nGroupScope,
                             "(&" + _settings.strGroupFilter + "(" + _settings.strGroupNameAttr + "=" +
                                 escapeFilterValue(strGroup) + "))",
                             attributeS, _settings.nSizeLimit);
}

void LdapAuthenticator::membersOf(LdapConnection& connection, const std::string& strGroup,
                                  std::vector<LdapEntry>& memberS) const
{
    const size_t nLimit = static_cast<size_t>(_settings.nSizeLimit);
    const std::string strMemberAttr = memberAttribute(_settings.groupStyle);
    std::vector<std::string> userAttributeS = userAttributes();
    if (!strMemberAttr.empty()) userAttributeS.push_back(strMemberAttr);
    std::set<std::string> seenS;
    // One lookup per member: a group full of names that are nobody must not cost without end.
    const size_t nMaxLookups = 2 * nLimit + 16;
    size_t nLookups = 0;
    std::vector<LdapEntry> frontier = groupEntries(connection, strGroup);
    for (int nDepth = 0; !frontier.empty() && nDepth <= (_settings.bNested ? _settings.nNestedDepth : 0); ++nDepth) {
        std::vector<LdapEntry> next;
        for (const LdapEntry& group : frontier) {
            if (!seenS.insert(group.strDn).second) continue;
            switch (_settings.groupStyle) {
            case GroupStyle::member:
            case GroupStyle::uniqueMember:
                for (const std::string& strDn : group.all(strMemberAttr)) {
                    if (memberS.size() >= nLimit || ++nLookups > nMaxLookups) return;
                    // Members where the users are, as user_list_filter describes them, and groups
                    // in the group where the groups are: an entry elsewhere is nobody's member.
                    bool bUser = false;
                    if (dnIsUnder(strDn, _settings.strUserBase)) {
                        for (LdapEntry& member :
                             connection.search(strDn, LDAP_SCOPE_BASE, _settings.strUserListFilter, userAttributeS, 1)) {
                            bUser = !userIdOf(member).empty();
                            if (bUser) memberS.push_back(std::move(member));
                        }
                    }
                    if (!bUser && _settings.bNested && dnIsUnder(strDn, _settings.strGroupBase))
                        for (LdapEntry& inner : connection.search(strDn, LDAP_SCOPE_BASE, _settings.strGroupFilter,
                                                                  {_settings.strGroupNameAttr, strMemberAttr}, 1))
                            next.push_back(std::move(inner));  // a group in the group
                }
                break;
            case GroupStyle::memberUid:
                for (const std::string& strUid : group.all(strMemberAttr)) {
                    if (memberS.size() >= nLimit || ++nLookups > nMaxLookups) return;
                    LdapEntry member;
                    if (findEntry(connection, strUid, member)) memberS.push_back(std::move(member));
                }
                break;
            case GroupStyle::memberOf: {
                for (LdapEntry& member : connection.search(
                         _settings.strUserBase, _settings.nUserScope,
                         "(&" + _settings.strUserListFilter + "(memberOf=" + escapeFilterValue(group.strDn) + "))",
                         userAttributeS, _settings.nSizeLimit)) {
                    if (memberS.size() >= nLimit) return;
                    memberS.push_back(std::move(member));
                }
                if (_settings.bNested) {
                    const std::string strBase =
                        _settings.strGroupBase.empty() ? parentDn(_settings.strUserBase) : _settings.strGroupBase;
                    for (LdapEntry& inner : connection.search(
                             strBase, _settings.nGroupScope,
                             "(&" + _settings.strGroupFilter + "(memberOf=" + escapeFilterValue(group.strDn) + "))",
                             {_settings.strGroupNameAttr}, _settings.nSizeLimit))
                        next.push_back(std::move(inner));
                }
                break;
            }
            case GroupStyle::none:
                return;
            }
        }
        frontier.swap(next);
    }
}

void LdapAuthenticator::team(OstrelData::Team& team)
{
    const std::string& strDomain = domain().domain();
    std::vector<std::pair<const OstrelData::XTeam*, bool>> groupS;  // (mapping, lead group)
    for (const auto& mapping : OstrelData::Factory::teams(team))
        if (mapping.second != nullptr && mapping.second->domain() == strDomain) groupS.emplace_back(mapping.second, false);
    if (groupS.empty() || _settings.groupStyle == GroupStyle::none) return;
    withReader([&](LdapConnection& connection) {
        for (const auto& group : groupS) {
            std::vector<LdapEntry> memberS;
            std::vector<LdapEntry> leadS;
            membersOf(connection, group.first->alienGroup(), memberS);
            if (!group.first->alienGroupLeadGroup().empty())
                membersOf(connection, group.first->alienGroupLeadGroup(), leadS);
            std::set<std::string> leadIdS;
            for (const LdapEntry& lead : leadS)
                leadIdS.insert(userIdOf(lead));
            for (const std::vector<LdapEntry>* plist : {&memberS, &leadS}) {
                for (const LdapEntry& member : *plist) {
                    const std::string strUserId = userIdOf(member);
                    if (strUserId.empty()) continue;
                    OstrelData::User user = userOf(member, strUserId);
                    const bool bLead = leadIdS.count(strUserId) != 0;
                    auto it = team.members().find(user.key());
                    if (it != team.members().end() && it->second.isLead()) continue;
                    team.members().insert_or_assign(user.key(), OstrelData::TeamMember(user, bLead));
                }
            }
        }
    });
}

void LdapAuthenticator::findUsers(OstrelData::UserMap& userS, const std::string& strText)
{
    const std::string strValue = escapeFilterValue(strText);
    // A "*" in the text is a character like any other; no text lists everyone.
    std::string strFilter = "(&" + _settings.strUserListFilter + "(" + _settings.strAttrUserId + "=*)";
    if (!strText.empty())
        strFilter += "(|(" + _settings.strAttrUserId + "=*" + strValue + "*)(" + _settings.strAttrName + "=*" +
                     strValue + "*))";
    strFilter += ")";
    withReader([&](LdapConnection& connection) {
        bool bTruncated = false;
        for (const LdapEntry& entry : connection.search(_settings.strUserBase, _settings.nUserScope, strFilter,
                                                        userAttributes(), _settings.nSizeLimit, &bTruncated)) {
            const std::string strUserId = userIdOf(entry);
            if (strUserId.empty()) continue;
            OstrelData::User user = userOf(entry, strUserId);
            userS.insert_or_assign(user.key(), user);
        }
        if (bTruncated)
            Corvel::EventLogger::theLogger().logWarning("LDAP search for users of " + domain().domain() +
                                                            " stopped at the size limit",
                                                        Corvel::layerPlugin);
    });
}

void LdapAuthenticator::users(OstrelData::UserMap& userS)
{
    findUsers(userS, std::string());
}

bool LdapAuthenticator::passwd(const OstrelData::AuthenticatedUser& user,
                               OstrelData::AuthenticationToken& authTokenCurrent,
                               OstrelData::AuthenticationToken& authTokenNew)
{
    if (!_settings.bAllowWrites)
        OSTREL_RAISE(OstrelData::nNAX_NOTIMPLEMENTED, "passwd (the domain's directory is read only: allow_writes)");
    const std::string& strCurrent = authTokenCurrent.str();
    const std::string& strNew = authTokenNew.str();
    if (strNew.empty()) OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED, "The new password is empty.");
    if (strCurrent.empty()) refuse(user.userId(), "empty password");
    std::string strDn;
    LdapEntry entry;
    const bool bKnown = dnToBind(user.userId(), strDn, entry, userAttributes());
    bool bBound = false;
    bool bSent = false;
    int nResult = LDAP_SUCCESS;
    _pbindPool->run([&](LdapConnection& connection) {
        // Again after the link was lost with the change sent: the directory may have made it, and
        // then only the new password binds.
        if (bSent && bKnown && connection.bind(strDn, strNew)) {
            bBound = true;
            nResult = LDAP_SUCCESS;
            return;
        }
        bBound = connection.bind(strDn, strCurrent);
        if (bBound && bKnown) {
            bSent = true;
            nResult = connection.changePassword(strDn, strCurrent, strNew);
        }
    });
    if (!bKnown || !bBound) refuse(user.userId(), "wrong password or no such user");
    if (nResult != LDAP_SUCCESS)
        OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED,
                     std::string("The directory refused the new password: ") + ldap_err2string(nResult));
    logSecurity("Password changed in the directory for " + domain().domain() + "/" + user.userId());
    return true;
}

void LdapAuthenticator::updateUser(const OstrelData::User& user)
{
    if (!_settings.bAllowWrites)
        OSTREL_RAISE(OstrelData::nNAX_NOTIMPLEMENTED, "updateUser (the domain's directory is read only: allow_writes)");
    bool bFound = false;
    int nResult = LDAP_SUCCESS;
    withReader([&](LdapConnection& connection) {
        LdapEntry entry;
        // Another spelling of an id is not that user (as user() says): his entry is not written.
        bFound = findEntry(connection, user.userId(), entry) && userIdOf(entry) == user.userId();
        if (!bFound) return;
        std::vector<std::pair<std::string, std::string>> changeS;
        if (!user.name().empty()) changeS.emplace_back(_settings.strAttrName, user.name());
        if (!user.contact().empty() || !entry.first(_settings.strAttrContact).empty())
            changeS.emplace_back(_settings.strAttrContact, user.contact());
        if (!changeS.empty()) nResult = connection.modify(entry.strDn, changeS);
    });
    if (!bFound) OSTREL_RAISE(OstrelData::nNAX_USERNOTFOUND, domain().domain() + "/" + user.userId());
    if (nResult != LDAP_SUCCESS)
        OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED,
                     std::string("The directory refused the change: ") + ldap_err2string(nResult));
}

LdapLibrary::LdapLibrary(const OstrelData::AuthenticationLibrary* ptemplate)
    : OstrelData::AuthenticationLibrary(ptemplate)
{
}

OstrelData::Authenticator* LdapLibrary::authenticator(const OstrelData::Domain& domain,
                                                      const std::string& strDescription,
                                                      const OstrelData::InitMap& initAuthenticator)
{
    return new LdapAuthenticator(libraryInit(), initAuthenticator, domain, strDescription, authenticationLibrary());
}

} // namespace AuthLdap
