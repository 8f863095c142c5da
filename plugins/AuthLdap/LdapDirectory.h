#ifndef AUTHLDAP_LDAPDIRECTORY_H
#define AUTHLDAP_LDAPDIRECTORY_H

// The LDAP plug-in's reach into the directory: its settings (read from the domain's parameters),
// one libldap connection with time-outs on everything, and a small pool of them that reconnects.
//
// Every failure to reach the directory or to get an answer from it is an OstrelData::Exception
// 7500 (nNAX_SEARCHEXECFAILED, an outside service failed) naming the directory, raised within the
// configured time-outs; bad parameters are 5012 (nNAX_AUTHENTICATORINITFAILED).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Corvel/Mutex.h"
#include "OstrelData/InitMap.h"

typedef struct ldap LDAP;
struct ldap_conncb;

namespace AuthLdap {

// How a user's groups are found (parameter group_style).
enum class GroupStyle {
    member,        // groups whose "member" holds the user's DN (groupOfNames)
    uniqueMember,  // groups whose "uniqueMember" holds the user's DN (groupOfUniqueNames)
    memberUid,     // groups whose "memberUid" holds the user's id (posixGroup)
    memberOf,      // the DNs in the user entry's "memberOf"
    none           // no groups: no teams from the directory
};

// Every parameter of a domain served by the plug-in (see README, "LDAP directory plug-in", and
// LdapAuthenticator.h for the list). A domain's value wins over its library's.
struct LdapSettings {
    std::string strUrl;                   // url: one or more ldap://, ldaps:// or ldapi:// URLs
    bool bStartTls = false;               // starttls
    std::string strCaFile;                // ca_file
    int nRequireCert = 0;                 // tls_require_cert, as LDAP_OPT_X_TLS_*; demand by default
    bool bAllowPlaintext = false;         // allow_plaintext
    long nConnectTimeoutMs = 3000;        // connect_timeout_ms
    long nTimeoutMs = 5000;               // timeout_ms
    std::string strBindDn;                // bind_dn
    std::string strBindPassword;          // bind_password
    std::string strUserDnTemplate;        // user_dn_template
    std::string strUserBase;              // user_base (for DN templates: the template's parent)
    int nUserScope = 2;                   // user_scope: base, one, sub
    std::string strUserFilter = "(uid=%s)";          // user_filter
    std::string strUserListFilter = "(objectClass=*)";  // user_list_filter
    std::string strAttrUserId = "uid";    // attr_user_id
    std::string strAttrName = "cn";       // attr_name
    std::string strAttrContact = "mail";  // attr_contact
    std::string strGroupBase;             // group_base
    int nGroupScope = 2;                  // group_scope
    std::string strGroupFilter = "(objectClass=*)";  // group_filter
    GroupStyle groupStyle = GroupStyle::member;      // group_style
    std::string strGroupNameAttr = "cn";  // group_name_attr
    bool bNested = false;                 // nested_groups
    int nNestedDepth = 5;                 // nested_depth
    int nSizeLimit = 1000;                // size_limit
    int nPoolSize = 8;                    // pool_size
    bool bAllowWrites = false;            // allow_writes
    // stamp_attrs: what changes with the user's password or lock (in the password policies of
    // the usual directories); a kept session ends when one of them does.
    std::vector<std::string> stampAttributeS{"pwdChangedTime", "pwdLastSet", "pwdAccountLockedTime", "lockoutTime"};

    // Reads the parameters; throws 5012 naming the first one that is missing or wrong, and for
    // plain ldap:// to a host beyond loopback without allow_plaintext.
    static LdapSettings from(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator);

    bool searchThenBind() const { return strUserDnTemplate.empty(); }
    // What makes two pools interchangeable: the connection and service-account settings.
    std::string poolKey() const;
};

// One entry as read: its DN and the values of the attributes asked for (names in lower case).
struct LdapEntry {
    std::string strDn;
    std::map<std::string, std::vector<std::string>> valueS;

    // The first value of an attribute (name in any case); empty when it has none.
    std::string first(const std::string& strAttribute) const;
    const std::vector<std::string>& all(const std::string& strAttribute) const;
};

// One handle to the directory. Not for two threads at once.
class LdapConnection {
public:
    // Sets the handle up (no traffic yet): protocol 3, no referrals, the time-outs, TLS trust.
    explicit LdapConnection(const LdapSettings& settings);
    ~LdapConnection();
    LdapConnection(const LdapConnection&) = delete;
    LdapConnection& operator=(const LdapConnection&) = delete;

    // A simple bind: true when the directory took the credentials, false for invalid credentials
    // (or a DN it refuses to bind as), and for a password its password policy takes only so that it
    // is changed (reset by an administrator, expired, a grace login); throws 7500 for anything
    // else. Never sent with an empty DN or password (an anonymous bind): false at once.
    bool bind(const std::string& strDn, const std::string& strPassword);
    // Entries under strBase; at most nSizeLimit of them (more are dropped, bTruncated set). An
    // unknown base gives none. Throws 7500.
    std::vector<LdapEntry> search(const std::string& strBase, int nScope, const std::string& strFilter,
                                  const std::vector<std::string>& attributeS, int nSizeLimit,
                                  bool* pbTruncated = nullptr);
    // RFC 3062 password change of the bound user. Returns the LDAP result code (0 on success);
    // throws 7500 when the directory cannot be reached.
    int changePassword(const std::string& strDn, const std::string& strOld, const std::string& strNew);
    // Replaces single values of an entry's attributes (an empty value removes the attribute).
    int modify(const std::string& strDn, const std::vector<std::pair<std::string, std::string>>& changeS);

    // Whether the handle saw the link fail (it is then of no further use).
    bool broken() const { return _bBroken; }
    const std::string& url() const { return _settings.strUrl; }

    // For the TLS set-up callback: shuts the socket down unless endWatch comes within timeout_ms;
    // false, keeping nothing, when it cannot watch.
    bool watchHandshake(int fd);
    void endWatch();
    // For the link callback: whether libldap may open a link now.
    bool takesNewLink() const;

private:
    struct Watch {
        Corvel::Mutex mx;
        Corvel::ConditionVariable cv;
        bool bDone = false;  // under mx
        std::thread thread;
    };

    void connect();
    [[noreturn]] void fail(int nResult, const std::string& strWhat);
    void check(int nResult, const std::string& strWhat);

    const LdapSettings _settings;
    LDAP* _pld = nullptr;
    std::unique_ptr<Watch> _pwatch;  // while a handshake may be running
    std::unique_ptr<ldap_conncb> _pcallbacks;  // libldap keeps the pointer for the handle's life
    bool _bConnected = false;
    bool _bBroken = false;
};

// Up to pool_size connections of one kind (bound as the service account, or kept for user binds),
// shared by every authenticator with the same connection settings. A connection that saw the link
// fail is dropped; an operation that failed so on a connection that had been idle in the pool is
// tried once more on a new connection, so that a directory that was restarted is used again at
// once.
class LdapPool {
public:
    LdapPool(const LdapSettings& settings, bool bServiceBound);
    ~LdapPool();

    // Runs fn on a connection (bound as the service account when the pool is of that kind).
    void run(const std::function<void(LdapConnection&)>& fn);

    // The pool of the settings' kind, made at first use and kept for the process.
    static std::shared_ptr<LdapPool> shared(const LdapSettings& settings, bool bServiceBound);

    size_t idle() const;

private:
    std::unique_ptr<LdapConnection> take(bool& bReused);
    void give(std::unique_ptr<LdapConnection> pconnection);
    std::unique_ptr<LdapConnection> open();

    const LdapSettings _settings;
    const bool _bServiceBound;
    mutable Corvel::Mutex _mx;
    Corvel::ConditionVariable _cv;
    std::vector<std::unique_ptr<LdapConnection>> _idleS;  // under _mx
    int _nOut = 0;                                        // under _mx: connections in use
};

} // namespace AuthLdap

#endif
