#ifndef AUTHLDAP_LDAPAUTHENTICATOR_H
#define AUTHLDAP_LDAPAUTHENTICATOR_H

// The LDAP directory plug-in: the users of a domain log in against a directory the organisation
// already runs (OpenLDAP, 389-DS, Active Directory), and its groups become teams through the team
// map.
//
// Parameters (library parameters are defaults for every domain; a domain's own win):
//   url                 ldap://, ldaps:// or ldapi:// URL(s) of the directory, space-separated
//                       (required). Plain ldap:// only to loopback, unless starttls or
//                       allow_plaintext says otherwise.
//   starttls            yes: StartTLS on an ldap:// URL before anything else (default no)
//   ca_file             PEM file of the CA(s) that sign the directory's certificate (default: the
//                       system's trust)
//   tls_require_cert    demand (default), try, allow or never
//   allow_plaintext     yes: plain ldap:// beyond loopback, passwords in the clear (default no)
//   connect_timeout_ms  time to connect (default 3000)
//   timeout_ms          time for any one operation, and the search time limit (default 5000)
//   bind_dn, bind_password
//                       service account for searches (default: none, anonymous)
//   user_dn_template    DN of a user, %s standing for his id (RFC 4514 escaped), for example
//                       uid=%s,ou=people,dc=example,dc=org; without it, search-then-bind:
//   user_base, user_scope (base|one|sub, default sub), user_filter (default (uid=%s), %s RFC 4515
//                       escaped): the one entry found is bound as the user
//   user_list_filter    the users' entries, for users/findUsers (default (objectClass=*))
//   attr_user_id, attr_name, attr_contact
//                       attributes of the id, display name and contact (uid, cn, mail)
//   group_style         member (default), uniqueMember, memberUid, memberOf or none
//   group_base, group_scope, group_filter
//                       where groups are (required unless group_style is none; sub,
//                       (objectClass=*)); group names count only for groups under group_base
//   group_name_attr     the group's name in the team map (default cn); its DN matches too
//   nested_groups       yes: groups in groups count, up to nested_depth levels (default no, 5)
//   size_limit          most entries one search returns (default 1000)
//   pool_size           connections kept per kind (service, user binds; default 8)
//   allow_writes        yes: passwd (RFC 3062) and updateUser (name, contact) write to the
//                       directory; other writes are never done (7001)
//   stamp_attrs         attributes that change with the password or a lock (default
//                       pwdChangedTime pwdLastSet pwdAccountLockedTime lockoutTime): a kept
//                       session ends when they change
//
// Refused logins (unknown user, wrong or empty password, an id that finds several entries) all
// fail alike with code 1, one legend and one raise site; an unknown user costs a bind like a real
// one. A directory that cannot be reached or does not answer in time gives 7500 naming it.

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AuthLdap/LdapDirectory.h"
#include "OstrelData/AccountState.h"
#include "OstrelData/AuthenticationLibrary.h"
#include "OstrelData/Authenticator.h"

namespace AuthLdap {

// A user's groups as the team map names them: each group's name (group_name_attr) and its DN.
struct GroupNames {
    std::set<std::string> nameS;  // key() of names and DNs
    void add(const std::string& strName);
    bool has(const std::string& strName) const;
    // A name or a DN as the directory compares it: a DN in one spelling, without regard to case.
    static std::string key(const std::string& strName);
};

class LdapAuthenticator : public OstrelData::Authenticator,
                          public OstrelData::AccountState,
                          public OstrelData::StampedLogin {
public:
    // Throws 5012 for missing or bad parameters.
    LdapAuthenticator(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator,
                      const OstrelData::Domain& domain, const std::string& strDescription, int nAuthenticationLibrary);

    OstrelData::AuthenticatedUser authenticate(const OstrelData::User& user,
                                               const OstrelData::AuthenticationToken& authToken,
                                               const OstrelData::Profile& profile) override;
    // Name, contact and teams; 101 for a user the directory does not have.
    void user(OstrelData::User& user, bool bRecurse) override;
    // The members of the groups mapped onto the team for this domain; leads from the lead groups.
    void team(OstrelData::Team& team) override;
    // Users whose id or name holds the text (a substring; the text is no pattern).
    void findUsers(OstrelData::UserMap& userS, const std::string& strText) override;
    void users(OstrelData::UserMap& userS) override;
    // With allow_writes: the directory's password modify operation, as the user; else 7001.
    bool passwd(const OstrelData::AuthenticatedUser& user, OstrelData::AuthenticationToken& authTokenCurrent,
                OstrelData::AuthenticationToken& authTokenNew) override;
    // With allow_writes: name and contact through the service account; else 7001.
    void updateUser(const OstrelData::User& user) override;

    // The values of stamp_attrs in the user's entry; empty when the directory has no such user or
    // shows him locked (pwdAccountLockedTime, a lockoutTime other than 0).
    std::string credentialStamp(const std::string& strUserId) override;
    // Searching for the user's entry before the bind, the stamp is read by that search: a password
    // changed after it makes the stamp an old one, never a new one (where that entry shows a lock
    // the bind may have cleared, it is read again and holds only if nothing else changed). Under a
    // DN template it is asked for after the bind.
    OstrelData::AuthenticatedUser authenticateStamped(const OstrelData::User& user,
                                                      const OstrelData::AuthenticationToken& authToken,
                                                      const OstrelData::Profile& profile,
                                                      std::string& strStamp) override;

    const LdapSettings& settings() const { return _settings; }
    // The groups of a user entry (for tests and team()).
    GroupNames groupsOf(LdapConnection& connection, const LdapEntry& entry) const;

private:
    // The user's entry, or false; on a service connection.
    bool findEntry(LdapConnection& connection, const std::string& strUserId, LdapEntry& entry,
                   const std::vector<std::string>& attributeS) const;
    bool findEntry(LdapConnection& connection, const std::string& strUserId, LdapEntry& entry) const
    {
        return findEntry(connection, strUserId, entry, userAttributes());
    }
    // The DN to bind as for strUserId (search-then-bind: after a search on the service pool); false
    // with a stand-in DN when there is none.
    bool dnToBind(const std::string& strUserId, std::string& strDn, LdapEntry& entry,
                  const std::vector<std::string>& attributeS);
    // authenticate(), and with pstrStamp authenticateStamped().
    OstrelData::AuthenticatedUser login(const OstrelData::User& user, const OstrelData::AuthenticationToken& authToken,
                                        const OstrelData::Profile& profile, std::string* pstrStamp);
    // What credentialStamp() reads of an entry, and the stamp it makes of them.
    std::vector<std::string> stampAttributes() const;
    std::string stampOf(const LdapEntry& entry);
    // The stamp_attrs values of an entry, with or without the marks of a lock.
    std::string stampValues(const LdapEntry& entry, bool bWithLocks) const;
    // The stamp of a login from the entry its search found before the bind.
    std::string stampBeforeBind(const LdapEntry& entry, const std::string& strKnownId);
    [[noreturn]] void refuse(const std::string& strUserId, const std::string& strReason) const;
    std::vector<std::string> userAttributes() const;
    OstrelData::User userOf(const LdapEntry& entry, const std::string& strUserId) const;
    // The user id an entry gives (attr_user_id); empty when it has none.
    std::string userIdOf(const LdapEntry& entry) const;
    void addTeams(OstrelData::User& user, const GroupNames& groupS) const;
    // Group entries matching the name (a DN or a group_name_attr value).
    std::vector<LdapEntry> groupEntries(LdapConnection& connection, const std::string& strGroup) const;
    // The user entries of a group (nested ones too when asked); at most size_limit of them.
    void membersOf(LdapConnection& connection, const std::string& strGroup, std::vector<LdapEntry>& memberS) const;
    const OstrelData::Domain& servedDomain() const;
    // Runs fn on a connection that may read the directory: the service pool.
    void withReader(const std::function<void(LdapConnection&)>& fn) const;

    LdapSettings _settings;
    std::string _strStandInDn;  // a DN no entry has, bound for unknown users
    std::shared_ptr<LdapPool> _pservicePool;
    std::shared_ptr<LdapPool> _pbindPool;
    std::atomic<bool> _bStampWarned{false};
    std::atomic<long long> _nKnownBindUs{0};  // a moving average of binds the directory hashed
};

class LdapLibrary : public OstrelData::AuthenticationLibrary {
public:
    explicit LdapLibrary(const OstrelData::AuthenticationLibrary* ptemplate);
    OstrelData::Authenticator* authenticator(const OstrelData::Domain& domain, const std::string& strDescription,
                                             const OstrelData::InitMap& initAuthenticator) override;
};

} // namespace AuthLdap

#endif
