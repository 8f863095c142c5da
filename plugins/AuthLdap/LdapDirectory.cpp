#include "AuthLdap/LdapDirectory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ldap.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "AuthLdap/LdapEscape.h"
#include "Corvel/EventLogger.h"
#include "OstrelData/Exception.h"

namespace AuthLdap {

namespace {

using OstrelData::InitMap;

std::string lower(std::string str)
{
    for (char& ch : str)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return str;
}

// The domain's value, else the library's; nullptr when neither has one.
const std::string* param(const InitMap& initLibrary, const InitMap& initAuthenticator, const char* pszName)
{
    InitMap::const_iterator it = initAuthenticator.find(pszName);
    if (it != initAuthenticator.end()) return &it->second;
    it = initLibrary.find(pszName);
    return it != initLibrary.end() ? &it->second : nullptr;
}

[[noreturn]] void badParam(const std::string& strName, const std::string& strWhy)
{
    OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATORINITFAILED, "LDAP parameter " + strName + ": " + strWhy);
}

struct Reader {
    const InitMap& initLibrary;
    const InitMap& initAuthenticator;

    void text(const char* pszName, std::string& strOut) const
    {
        if (const std::string* p = param(initLibrary, initAuthenticator, pszName)) strOut = *p;
    }
    void flag(const char* pszName, bool& bOut) const
    {
        const std::string* p = param(initLibrary, initAuthenticator, pszName);
        if (!p) return;
        const std::string str = lower(*p);
        if (str == "yes" || str == "true" || str == "1" || str == "on")
            bOut = true;
        else if (str == "no" || str == "false" || str == "0" || str == "off")
            bOut = false;
        else
            badParam(pszName, "yes or no, not '" + *p + "'");
    }
    void number(const char* pszName, long nMin, long nMax, long& nOut) const
    {
        const std::string* p = param(initLibrary, initAuthenticator, pszName);
        if (!p) return;
        char* pszEnd = nullptr;
        errno = 0;
        long n = std::strtol(p->c_str(), &pszEnd, 10);
        if (p->empty() || *pszEnd != '\0' || errno == ERANGE || n < nMin || n > nMax)
            badParam(pszName, "a whole number from " + std::to_string(nMin) + " to " + std::to_string(nMax) +
                                  ", not '" + *p + "'");
        nOut = n;
    }
    void number(const char* pszName, int nMin, int nMax, int& nOut) const
    {
        long n = nOut;
        number(pszName, static_cast<long>(nMin), static_cast<long>(nMax), n);
        nOut = static_cast<int>(n);
    }
    void scope(const char* pszName, int& nOut) const
    {
        const std::string* p = param(initLibrary, initAuthenticator, pszName);
        if (!p) return;
        const std::string str = lower(*p);
        if (str == "base")
            nOut = LDAP_SCOPE_BASE;
        else if (str == "one" || str == "onelevel")
            nOut = LDAP_SCOPE_ONELEVEL;
        else if (str == "sub" || str == "subtree")
            nOut = LDAP_SCOPE_SUBTREE;
        else
            badParam(pszName, "base, one or sub, not '" + *p + "'");
    }
};

// By address only ("localhost" aside): a name such as 127.example.org is anybody's.
bool isLoopbackHost(const std::string& strHost)
{
    if (strHost == "localhost") return true;
    in_addr addr4;
    if (inet_pton(AF_INET, strHost.c_str(), &addr4) == 1) return (ntohl(addr4.s_addr) >> 24) == 127;
    in6_addr addr6;
    return inet_pton(AF_INET6, strHost.c_str(), &addr6) == 1 && IN6_IS_ADDR_LOOPBACK(&addr6);
}

// Checks every URL of the list; the plain ones (without StartTLS) must go to loopback unless the
// operator said otherwise.
void checkUrls(const LdapSettings& settings)
{
    if (settings.strUrl.empty()) badParam("url", "missing (for example ldaps://ldap.example.org)");
    std::string strProblem;
    std::string strList = settings.strUrl;
    for (char& ch : strList)
        if (ch == ',' || ch == '\t') ch = ' ';
    size_t nStart = 0;
    int nUrls = 0;
    while (strProblem.empty() && (nStart = strList.find_first_not_of(' ', nStart)) != std::string::npos) {
        size_t nEnd = strList.find(' ', nStart);
        const std::string strOne = strList.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        nStart = nEnd == std::string::npos ? strList.size() : nEnd;
        ++nUrls;
        LDAPURLDesc* pdesc = nullptr;
        if (ldap_url_parse(strOne.c_str(), &pdesc) != LDAP_URL_SUCCESS || pdesc == nullptr) {
            strProblem = "not an LDAP URL: '" + strOne + "'";
            break;
        }
        const std::string strScheme = lower(pdesc->lud_scheme ? pdesc->lud_scheme : "");
        const std::string strHost = pdesc->lud_host ? pdesc->lud_host : "";
        ldap_free_urldesc(pdesc);
        if (strScheme == "ldaps" || strScheme == "ldapi") continue;
        if (strScheme != "ldap") {
            strProblem = "unknown scheme '" + strScheme + "'";
        } else if (!settings.bStartTls && !settings.bAllowPlaintext && !isLoopbackHost(strHost)) {
            strProblem = "plain ldap:// to " + (strHost.empty() ? std::string("the default host") : strHost) +
                         " would send passwords in the clear: use ldaps://, starttls=yes, or allow_plaintext=yes";
        }
    }
    if (strProblem.empty() && nUrls == 0) strProblem = "no URL in '" + settings.strUrl + "'";
    if (!strProblem.empty()) badParam("url", strProblem);
}

} // namespace

LdapSettings LdapSettings::from(const InitMap& initLibrary, const InitMap& initAuthenticator)
{
    LdapSettings s;
    s.nRequireCert = LDAP_OPT_X_TLS_DEMAND;
    s.nUserScope = LDAP_SCOPE_SUBTREE;
    s.nGroupScope = LDAP_SCOPE_SUBTREE;
    const Reader r{initLibrary, initAuthenticator};
    r.text("url", s.strUrl);
    r.flag("starttls", s.bStartTls);
    r.text("ca_file", s.strCaFile);
    std::string strRequire;
    r.text("tls_require_cert", strRequire);
    if (!strRequire.empty()) {
        const std::string str = lower(strRequire);
        if (str == "demand" || str == "hard")
            s.nRequireCert = LDAP_OPT_X_TLS_DEMAND;
        else if (str == "try")
            s.nRequireCert = LDAP_OPT_X_TLS_TRY;
        else if (str == "allow")
            s.nRequireCert = LDAP_OPT_X_TLS_ALLOW;
        else if (str == "never")
            s.nRequireCert = LDAP_OPT_X_TLS_NEVER;
        else
            badParam("tls_require_cert", "demand, try, allow or never, not '" + strRequire + "'");
    }
    r.flag("allow_plaintext", s.bAllowPlaintext);
    r.number("connect_timeout_ms", 1L, 600000L, s.nConnectTimeoutMs);
    r.number("timeout_ms", 1L, 600000L, s.nTimeoutMs);
    r.text("bind_dn", s.strBindDn);
    r.text("bind_password", s.strBindPassword);
    if (!s.strBindDn.empty() && s.strBindPassword.empty())
        badParam("bind_password", "missing for bind_dn (an empty password would bind anonymously)");
    r.text("user_dn_template", s.strUserDnTemplate);
    r.text("user_base", s.strUserBase);
    r.scope("user_scope", s.nUserScope);
    r.text("user_filter", s.strUserFilter);
    r.text("user_list_filter", s.strUserListFilter);
    r.text("attr_user_id", s.strAttrUserId);
    r.text("attr_name", s.strAttrName);
    r.text("attr_contact", s.strAttrContact);
    r.text("group_base", s.strGroupBase);
    r.scope("group_scope", s.nGroupScope);
    r.text("group_filter", s.strGroupFilter);
    std::string strStyle;
    r.text("group_style", strStyle);
    if (!strStyle.empty()) {
        const std::string str = lower(strStyle);
        if (str == "member")
            s.groupStyle = GroupStyle::member;
        else if (str == "uniquemember")
            s.groupStyle = GroupStyle::uniqueMember;
        else if (str == "memberuid")
            s.groupStyle = GroupStyle::memberUid;
        else if (str == "memberof")
            s.groupStyle = GroupStyle::memberOf;
        else if (str == "none")
            s.groupStyle = GroupStyle::none;
        else
            badParam("group_style", "member, uniqueMember, memberUid, memberOf or none, not '" + strStyle + "'");
    }
    r.text("group_name_attr", s.strGroupNameAttr);
    r.flag("nested_groups", s.bNested);
    r.number("nested_depth", 1, 50, s.nNestedDepth);
    r.number("size_limit", 1, 1000000, s.nSizeLimit);
    r.number("pool_size", 1, 256, s.nPoolSize);
    r.flag("allow_writes", s.bAllowWrites);
    std::string strStamp;
    r.text("stamp_attrs", strStamp);
    if (!strStamp.empty()) {
        s.stampAttributeS.clear();
        for (char& ch : strStamp)
            if (ch == ',') ch = ' ';
        size_t nStart = 0;
        while ((nStart = strStamp.find_first_not_of(' ', nStart)) != std::string::npos) {
            size_t nEnd = std::min(strStamp.find(' ', nStart), strStamp.size());
            s.stampAttributeS.push_back(strStamp.substr(nStart, nEnd - nStart));
            nStart = nEnd;
        }
    }

    checkUrls(s);
    // Where the user id goes: "%%s" is a plain "%s", and a template with only that would name one
    // entry whoever logs in.
    auto takesUserId = [](const std::string& strTemplate) {
        return fillTemplate(strTemplate, std::string()) != fillTemplate(strTemplate, "x");
    };
    if (s.strUserDnTemplate.empty()) {
        if (s.strUserBase.empty())
            badParam("user_base", "missing: give user_dn_template, or user_base (with user_filter) to search");
        if (!takesUserId(s.strUserFilter))
            badParam("user_filter", "has no %s for the user id: '" + s.strUserFilter + "'");
    } else {
        if (!takesUserId(s.strUserDnTemplate))
            badParam("user_dn_template", "has no %s for the user id: '" + s.strUserDnTemplate + "'");
        if (s.strUserBase.empty()) s.strUserBase = parentDn(s.strUserDnTemplate);
    }
    // Said, never guessed: the parent of the users' branch is most often the whole directory, where
    // anyone may keep a group named like the one a team is mapped from.
    if (s.groupStyle != GroupStyle::none && s.strGroupBase.empty())
        badParam("group_base", "missing: the branch where the groups the team map names are kept "
                               "(for example ou=groups,dc=example,dc=org), or group_style=none");
    if (s.nRequireCert != LDAP_OPT_X_TLS_DEMAND)
        Corvel::EventLogger::theLogger().logWarning(
            "LDAP directory " + s.strUrl + ": tls_require_cert is not demand, so its certificate is not checked",
            Corvel::layerPlugin);
    for (const char* pszFilter : {"user_filter", "user_list_filter", "group_filter"}) {
        const std::string* p = param(initLibrary, initAuthenticator, pszFilter);
        if (p && (p->empty() || p->front() != '(' || p->back() != ')'))
            badParam(pszFilter, "a filter in parentheses, not '" + *p + "'");
    }
    return s;
}

std::string LdapSettings::poolKey() const
{
    return strUrl + '\n' + (bStartTls ? "1" : "0") + '\n' + strCaFile + '\n' + std::to_string(nRequireCert) + '\n' +
           std::to_string(nConnectTimeoutMs) + '\n' + std::to_string(nTimeoutMs) + '\n' + strBindDn + '\n' +
           strBindPassword + '\n' + std::to_string(nPoolSize);
}

std::string LdapEntry::first(const std::string& strAttribute) const
{
    const std::vector<std::string>& valueS = all(strAttribute);
    return valueS.empty() ? std::string() : valueS.front();
}

const std::vector<std::string>& LdapEntry::all(const std::string& strAttribute) const
{
    static const std::vector<std::string> s_none;
    auto it = valueS.find(lower(strAttribute));
    return it != valueS.end() ? it->second : s_none;
}

// ---- one connection

namespace {

// What the directory said, with its address and names, is the operator's: it goes to the log
// (a directory that keeps failing is summed up there), and the client learns only that the
// directory could not be used, the same whatever the user or the failure.
[[noreturn]] void directoryFailure(const std::string& strUrl, const std::string& strDetail)
{
    static Corvel::LogThrottle s_throttle("LDAP directory failures");
    std::string strSummary;
    const bool bLog = s_throttle.admit(strUrl, strSummary);
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    if (!strSummary.empty()) logger.logWarning(strSummary, Corvel::layerPlugin);
    if (bLog) logger.logWarning("LDAP directory " + strUrl + ": " + strDetail, Corvel::layerPlugin);
    OSTREL_RAISE(OstrelData::nNAX_SEARCHEXECFAILED, "The domain's directory cannot be used now (see the daemon's log).");
}

// Bounds on what one reply may bring, whatever the directory sends: one message, and all the
// entries of one search together.
constexpr ber_len_t nMaxMessageBytes = 4 * 1024 * 1024;
constexpr size_t nMaxSearchBytes = 32 * 1024 * 1024;

int onConnectionAdded(LDAP*, Sockbuf* psb, LDAPURLDesc*, sockaddr*, ldap_conncb* pcallbacks)
{
    if (!static_cast<const LdapConnection*>(pcallbacks->lc_arg)->takesNewLink()) return -1;
    ber_len_t nMax = nMaxMessageBytes;
    return ber_sockbuf_ctrl(psb, LBER_SB_OPT_SET_MAX_INCOMING, &nMax) == 1 ? 0 : -1;
}

void onConnectionDeleted(LDAP*, Sockbuf*, ldap_conncb*) {}

timeval timevalOf(long nMs)
{
    timeval tv;
    tv.tv_sec = nMs / 1000;
    tv.tv_usec = (nMs % 1000) * 1000;
    return tv;
}

// libldap writes to its sockets without MSG_NOSIGNAL: a directory that went away would end the
// whole process with SIGPIPE. Each call into it runs with SIGPIPE blocked on its thread, and a
// SIGPIPE it raised is taken off again before the mask is restored; the process's own handling of
// the signal is left alone.
class SigpipeGuard {
public:
    SigpipeGuard()
    {
        sigemptyset(&_pipe);
        sigaddset(&_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        _bWasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &_pipe, &_old);
        _bWasBlocked = sigismember(&_old, SIGPIPE) == 1;
    }
    ~SigpipeGuard()
    {
        if (!_bWasPending) {
            const timespec tsNone{0, 0};
            while (sigtimedwait(&_pipe, nullptr, &tsNone) == SIGPIPE) {
            }
        }
        if (!_bWasBlocked) pthread_sigmask(SIG_SETMASK, &_old, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t _pipe;
    sigset_t _old;
    bool _bWasPending = false;
    bool _bWasBlocked = false;
};

// Results that mean the link is gone or the directory did not answer in time: the handle is
// dropped. libldap's own codes only: what the directory answered itself (busy, unwilling, a
// protocol error over a value it disliked) leaves a link that works.
bool isLinkFailure(int nResult)
{
    return nResult < 0;
}

// Called as a TLS session is set up, before its handshake. libldap runs the handshake on a
// non-blocking socket and, when the directory takes the connection but says nothing, retries it
// without end and without a time-out; the connection's watch shuts the socket down at the
// deadline, which ends the handshake with an error.
int onTlsConnect(LDAP* pld, void*, void*, void* parg)
{
    // libldap goes on with the handshake whatever this returns: one that cannot be watched is
    // ended here by shutting the socket down, so that it fails at once rather than maybe never.
    ber_socket_t fd = -1;
    if (ldap_get_option(pld, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0) return -1;
    bool bWatched = false;
    try {
        bWatched = static_cast<LdapConnection*>(parg)->watchHandshake(fd);
    } catch (...) {  // nothing may be thrown through libldap
    }
    if (bWatched) return 0;
    ::shutdown(fd, SHUT_RDWR);
    return -1;
}

// Ends the handshake watch when the call into libldap that may have started one returns.
struct WatchEnd {
    LdapConnection& connection;
    ~WatchEnd() { connection.endWatch(); }
};

} // namespace

LdapConnection::LdapConnection(const LdapSettings& settings) : _settings(settings)
{
    int nResult = ldap_initialize(&_pld, _settings.strUrl.c_str());
    if (nResult != LDAP_SUCCESS || _pld == nullptr) directoryFailure(_settings.strUrl, ldap_err2string(nResult));
    int nVersion = LDAP_VERSION3;
    ldap_set_option(_pld, LDAP_OPT_PROTOCOL_VERSION, &nVersion);
    ldap_set_option(_pld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(_pld, LDAP_OPT_RESTART, LDAP_OPT_ON);
    const timeval tvConnect = timevalOf(_settings.nConnectTimeoutMs);
    ldap_set_option(_pld, LDAP_OPT_NETWORK_TIMEOUT, &tvConnect);
    const timeval tvOperation = timevalOf(_settings.nTimeoutMs);
    ldap_set_option(_pld, LDAP_OPT_TIMEOUT, &tvOperation);
    // Trust of this handle's own: nothing from ldap.conf or the environment lowers it.
    int nRequire = _settings.nRequireCert;
    ldap_set_option(_pld, LDAP_OPT_X_TLS_REQUIRE_CERT, &nRequire);
    int nProtocolMin = LDAP_OPT_X_TLS_PROTOCOL_TLS1_2;
    ldap_set_option(_pld, LDAP_OPT_X_TLS_PROTOCOL_MIN, &nProtocolMin);
    if (!_settings.strCaFile.empty()) ldap_set_option(_pld, LDAP_OPT_X_TLS_CACERTFILE, _settings.strCaFile.c_str());
    ldap_set_option(_pld, LDAP_OPT_X_TLS_CONNECT_CB, reinterpret_cast<void*>(&onTlsConnect));
    ldap_set_option(_pld, LDAP_OPT_X_TLS_CONNECT_ARG, this);
    _pcallbacks = std::make_unique<ldap_conncb>();
    _pcallbacks->lc_add = &onConnectionAdded;
    _pcallbacks->lc_del = &onConnectionDeleted;
    _pcallbacks->lc_arg = this;
    ldap_set_option(_pld, LDAP_OPT_CONNECT_CB, _pcallbacks.get());
    int nServer = 0;
    nResult = ldap_set_option(_pld, LDAP_OPT_X_TLS_NEWCTX, &nServer);
    if (nResult != LDAP_OPT_SUCCESS) {
        ldap_unbind_ext_s(_pld, nullptr, nullptr);
        _pld = nullptr;
        directoryFailure(_settings.strUrl,
                         "cannot set up TLS (is ca_file '" + _settings.strCaFile + "' a readable PEM file?)");
    }
}

LdapConnection::~LdapConnection()
{
    endWatch();
    SigpipeGuard guard;
    if (_pld) ldap_unbind_ext_s(_pld, nullptr, nullptr);
}

void LdapConnection::fail(int nResult, const std::string& strWhat)
{
    if (isLinkFailure(nResult)) _bBroken = true;
    std::string strLegend = strWhat + ": " + ldap_err2string(nResult);
    char* pszDiagnostic = nullptr;
    if (_pld && ldap_get_option(_pld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &pszDiagnostic) == LDAP_OPT_SUCCESS &&
        pszDiagnostic != nullptr) {
        if (*pszDiagnostic) strLegend += std::string(" (") + pszDiagnostic + ")";
        ldap_memfree(pszDiagnostic);
    }
    if (nResult == LDAP_TIMEOUT)
        strLegend += " after " + std::to_string(_settings.nTimeoutMs) + " ms";
    directoryFailure(_settings.strUrl, strLegend);
}

void LdapConnection::check(int nResult, const std::string& strWhat)
{
    if (nResult != LDAP_SUCCESS) fail(nResult, strWhat);
}

void LdapConnection::connect()
{
    if (_bBroken) fail(LDAP_SERVER_DOWN, "connection");
    if (_bConnected) {
        // libldap opens a new link by itself when the old one was lost, without StartTLS: nothing
        // may then go out on it, least of all a password.
        if (_settings.bStartTls && !ldap_tls_inplace(_pld)) {
            _bBroken = true;
            fail(LDAP_SERVER_DOWN, "TLS is no longer in place");
        }
        return;
    }
    // StartTLS is the first thing said on a plain URL when asked for; an ldaps:// URL is TLS from
    // the start. Either way the certificate is checked as tls_require_cert says.
    if (_settings.bStartTls) {
        int nResult = ldap_start_tls_s(_pld, nullptr, nullptr);
        if (nResult != LDAP_SUCCESS) {
            _bBroken = true;
            fail(nResult == LDAP_SUCCESS ? LDAP_CONNECT_ERROR : nResult, "StartTLS");
        }
    }
    _bConnected = true;
}

bool LdapConnection::bind(const std::string& strDn, const std::string& strPassword)
{
    SigpipeGuard guard;
    // Either empty would make the bind anonymous, which "succeeds".
    if (strDn.empty() || strPassword.empty()) return false;
    WatchEnd watchEnd{*this};
    connect();
    berval cred;
    cred.bv_val = const_cast<char*>(strPassword.data());
    cred.bv_len = strPassword.size();
    // The directory's password policy is asked for its word on the password: one it takes only so
    // that its user may change it (set by an administrator, expired, a grace login) proves nothing.
    LDAPControl* ppolicy = nullptr;
    ldap_create_passwordpolicy_control(_pld, &ppolicy);
    LDAPControl* apcontrolS[2] = {ppolicy, nullptr};
    int nMessage = 0;
    int nResult = ldap_sasl_bind(_pld, strDn.c_str(), LDAP_SASL_SIMPLE, &cred, ppolicy ? apcontrolS : nullptr, nullptr,
                                 &nMessage);
    if (ppolicy) ldap_control_free(ppolicy);
    LDAPControl** pcontrolS = nullptr;
    if (nResult == LDAP_SUCCESS) {
        timeval tvLimit = timevalOf(_settings.nTimeoutMs);
        LDAPMessage* presult = nullptr;
        const int nType = ldap_result(_pld, nMessage, LDAP_MSG_ALL, &tvLimit, &presult);
        if (nType <= 0) {
            if (presult) ldap_msgfree(presult);
            nResult = LDAP_TIMEOUT;
            if (nType < 0) ldap_get_option(_pld, LDAP_OPT_RESULT_CODE, &nResult);
            _bBroken = true;
            fail(nResult == LDAP_SUCCESS ? LDAP_OTHER : nResult, "bind");
        }
        const int nParsed = ldap_parse_result(_pld, presult, &nResult, nullptr, nullptr, nullptr, &pcontrolS, 1);
        if (nParsed != LDAP_SUCCESS) nResult = nParsed;
    }
    bool bMustChange = false;
    if (pcontrolS != nullptr) {
        if (LDAPControl* presponse = ldap_control_find(LDAP_CONTROL_PASSWORDPOLICYRESPONSE, pcontrolS, nullptr)) {
            ber_int_t nExpire = -1;
            ber_int_t nGrace = -1;
            LDAPPasswordPolicyError error = PP_noError;
            if (ldap_parse_passwordpolicy_control(_pld, presponse, &nExpire, &nGrace, &error) == LDAP_SUCCESS)
                bMustChange = error == PP_changeAfterReset || error == PP_passwordExpired || nGrace >= 0;
        }
        ldap_controls_free(pcontrolS);
    }
    if (nResult == LDAP_SUCCESS) return !bMustChange;
    // Wrong password, unknown or malformed DN, an account the directory will not bind: refused.
    if (nResult == LDAP_INVALID_CREDENTIALS || nResult == LDAP_INVALID_DN_SYNTAX || nResult == LDAP_NO_SUCH_OBJECT ||
        nResult == LDAP_UNWILLING_TO_PERFORM || nResult == LDAP_INAPPROPRIATE_AUTH ||
        nResult == LDAP_CONSTRAINT_VIOLATION || nResult == LDAP_INSUFFICIENT_ACCESS)
        return false;
    fail(nResult, "bind");
}

std::vector<LdapEntry> LdapConnection::search(const std::string& strBase, int nScope, const std::string& strFilter,
                                              const std::vector<std::string>& attributeS, int nSizeLimit,
                                              bool* pbTruncated)
{
    SigpipeGuard guard;
    WatchEnd watchEnd{*this};
    connect();
    std::vector<char*> attrS;
    for (const std::string& str : attributeS)
        attrS.push_back(const_cast<char*>(str.c_str()));
    if (attrS.empty()) attrS.push_back(const_cast<char*>(LDAP_NO_ATTRS));
    attrS.push_back(nullptr);
    // Entries are taken one at a time, so that a directory that ignores the size limit, or sends
    // more than anyone asked for, is stopped here rather than held in memory.
    timeval tvLimit = timevalOf(_settings.nTimeoutMs);
    int nMessage = 0;
    check(ldap_search_ext(_pld, strBase.c_str(), nScope, strFilter.c_str(), attrS.data(), 0, nullptr, nullptr,
                          &tvLimit, nSizeLimit, &nMessage),
          "search under " + strBase);
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(_settings.nTimeoutMs);
    std::vector<LdapEntry> entryS;
    size_t nBytes = 0;
    if (pbTruncated) *pbTruncated = false;
    for (;;) {
        const long nLeftMs = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - std::chrono::steady_clock::now()).count());
        timeval tvLeft = timevalOf(std::max(nLeftMs, 1L));
        LDAPMessage* pmessage = nullptr;
        const int nType = ldap_result(_pld, nMessage, LDAP_MSG_ONE, &tvLeft, &pmessage);
        if (nType <= 0) {
            if (pmessage) ldap_msgfree(pmessage);
            int nResult = LDAP_TIMEOUT;
            if (nType < 0) ldap_get_option(_pld, LDAP_OPT_RESULT_CODE, &nResult);
            // Whatever was still to come would arrive on a link nobody reads in step any more.
            _bBroken = true;
            fail(nResult == LDAP_SUCCESS ? LDAP_OTHER : nResult, "search under " + strBase);
        }
        if (nType == LDAP_RES_SEARCH_RESULT) {
            int nResult = LDAP_OTHER;
            const int nParsed = ldap_parse_result(_pld, pmessage, &nResult, nullptr, nullptr, nullptr, nullptr, 1);
            if (nParsed != LDAP_SUCCESS) nResult = nParsed;
            if (nResult == LDAP_SIZELIMIT_EXCEEDED || nResult == LDAP_ADMINLIMIT_EXCEEDED) {
                if (pbTruncated) *pbTruncated = true;
            } else if (nResult != LDAP_SUCCESS && nResult != LDAP_NO_SUCH_OBJECT) {
                fail(nResult, "search under " + strBase);
            }
            return entryS;
        }
        if (nType != LDAP_RES_SEARCH_ENTRY) {  // a reference: referrals are not chased
            ldap_msgfree(pmessage);
            continue;
        }
        if (entryS.size() >= static_cast<size_t>(std::max(nSizeLimit, 1))) {
            ldap_msgfree(pmessage);
            ldap_abandon_ext(_pld, nMessage, nullptr, nullptr);
            if (pbTruncated) *pbTruncated = true;
            return entryS;
        }
        LdapEntry entry;
        if (char* pszDn = ldap_get_dn(_pld, pmessage)) {
            entry.strDn = pszDn;
            ldap_memfree(pszDn);
        }
        nBytes += entry.strDn.size();
        BerElement* pber = nullptr;
        for (char* pszAttr = ldap_first_attribute(_pld, pmessage, &pber); pszAttr != nullptr;
             pszAttr = ldap_next_attribute(_pld, pmessage, pber)) {
            std::vector<std::string>& valueS = entry.valueS[lower(pszAttr)];
            if (berval** ppvalueS = ldap_get_values_len(_pld, pmessage, pszAttr)) {
                for (berval** pp = ppvalueS; *pp != nullptr; ++pp) {
                    // What a value costs here, not only its bytes: an empty one is not free.
                    nBytes += (*pp)->bv_len + std::strlen(pszAttr) + 64;
                    valueS.emplace_back((*pp)->bv_val, (*pp)->bv_len);
                }
                ldap_value_free_len(ppvalueS);
            }
            ldap_memfree(pszAttr);
        }
        if (pber) ber_free(pber, 0);
        ldap_msgfree(pmessage);
        if (nBytes > nMaxSearchBytes) {
            ldap_abandon_ext(_pld, nMessage, nullptr, nullptr);
            _bBroken = true;
            directoryFailure(_settings.strUrl, "search under " + strBase + " brought more than " +
                                                   std::to_string(nMaxSearchBytes) + " bytes");
        }
        entryS.push_back(std::move(entry));
    }
}

int LdapConnection::changePassword(const std::string& strDn, const std::string& strOld, const std::string& strNew)
{
    SigpipeGuard guard;
    WatchEnd watchEnd{*this};
    connect();
    berval user{strDn.size(), const_cast<char*>(strDn.data())};
    berval oldPw{strOld.size(), const_cast<char*>(strOld.data())};
    berval newPw{strNew.size(), const_cast<char*>(strNew.data())};
    berval generated{0, nullptr};
    int nResult = ldap_passwd_s(_pld, &user, &oldPw, &newPw, &generated, nullptr, nullptr);
    if (generated.bv_val) ber_memfree(generated.bv_val);
    if (isLinkFailure(nResult)) fail(nResult, "password change");
    return nResult;
}

int LdapConnection::modify(const std::string& strDn, const std::vector<std::pair<std::string, std::string>>& changeS)
{
    SigpipeGuard guard;
    WatchEnd watchEnd{*this};
    connect();
    std::vector<LDAPMod> modS(changeS.size());
    std::vector<std::array<char*, 2>> valueS(changeS.size());
    std::vector<LDAPMod*> pmodS;
    for (size_t i = 0; i < changeS.size(); ++i) {
        valueS[i] = {const_cast<char*>(changeS[i].second.c_str()), nullptr};
        modS[i].mod_op = changeS[i].second.empty() ? LDAP_MOD_DELETE : LDAP_MOD_REPLACE;
        modS[i].mod_type = const_cast<char*>(changeS[i].first.c_str());
        modS[i].mod_values = changeS[i].second.empty() ? nullptr : valueS[i].data();
        pmodS.push_back(&modS[i]);
    }
    pmodS.push_back(nullptr);
    int nResult = ldap_modify_ext_s(_pld, strDn.c_str(), pmodS.data(), nullptr, nullptr);
    if (isLinkFailure(nResult)) fail(nResult, "modify");
    return nResult;
}

bool LdapConnection::takesNewLink() const
{
    // The first link of a StartTLS handle only: libldap would open a later one by itself, plain.
    return !(_settings.bStartTls && _bConnected);
}

bool LdapConnection::watchHandshake(int fd)
{
    // One call may set up several TLS sessions (a lost link opened again): each is watched. The
    // watch holds its own descriptor of the socket, so that the number it shuts down at the
    // deadline cannot by then be another file's.
    // A watch that cannot be made leaves nothing behind.
    endWatch();
    std::unique_ptr<Watch> pnew = std::make_unique<Watch>();
    const int fdWatched = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (fdWatched < 0) return false;
    Watch* pwatch = pnew.get();
    const long nMs = _settings.nTimeoutMs;
    try {
        pwatch->thread = std::thread([pwatch, fdWatched, nMs] {
            const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
            {
                Corvel::MutexLock lock(pwatch->mx);
                while (!pwatch->bDone) {
                    if (!pwatch->cv.waitUntil(pwatch->mx, tEnd) && !pwatch->bDone) {
                        ::shutdown(fdWatched, SHUT_RDWR);
                        break;
                    }
                }
            }
            ::close(fdWatched);
        });
    } catch (...) {
        ::close(fdWatched);
        return false;
    }
    _pwatch = std::move(pnew);
    return true;
}

void LdapConnection::endWatch()
{
    if (!_pwatch) return;
    {
        Corvel::MutexLock lock(_pwatch->mx);
        _pwatch->bDone = true;
    }
    _pwatch->cv.notifyAll();
    _pwatch->thread.join();
    _pwatch.reset();
}

// ---- the pool

LdapPool::LdapPool(const LdapSettings& settings, bool bServiceBound) : _settings(settings), _bServiceBound(bServiceBound)
{
}

LdapPool::~LdapPool() = default;

size_t LdapPool::idle() const
{
    Corvel::MutexLock lock(_mx);
    return _idleS.size();
}

std::unique_ptr<LdapConnection> LdapPool::open()
{
    auto pconnection = std::make_unique<LdapConnection>(_settings);
    if (_bServiceBound && !_settings.strBindDn.empty() &&
        !pconnection->bind(_settings.strBindDn, _settings.strBindPassword))
        directoryFailure(_settings.strUrl,
                         "refused the service account " + _settings.strBindDn + " (check bind_dn and bind_password)");
    return pconnection;
}

std::unique_ptr<LdapConnection> LdapPool::take(bool& bReused)
{
    {
        Corvel::MutexLock lock(_mx);
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(_settings.nTimeoutMs);
        while (_idleS.empty() && _nOut >= _settings.nPoolSize) {
            if (!_cv.waitUntil(_mx, tEnd) && _idleS.empty() && _nOut >= _settings.nPoolSize)
                directoryFailure(_settings.strUrl, "all " + std::to_string(_settings.nPoolSize) +
                                                       " connections stayed busy for " +
                                                       std::to_string(_settings.nTimeoutMs) + " ms");
        }
        ++_nOut;
        if (!_idleS.empty()) {
            std::unique_ptr<LdapConnection> p = std::move(_idleS.back());
            _idleS.pop_back();
            bReused = true;
            return p;
        }
    }
    bReused = false;
    try {
        return open();
    } catch (...) {
        give(nullptr);
        throw;
    }
}

void LdapPool::give(std::unique_ptr<LdapConnection> pconnection)
{
    // Closed after the lock is let go: an unbind writes to the network.
    std::vector<std::unique_ptr<LdapConnection>> droppedS;
    {
        Corvel::MutexLock lock(_mx);
        --_nOut;
        if (pconnection && pconnection->broken()) {
            // The others went idle before the link failed and have most likely lost theirs too.
            droppedS.swap(_idleS);
            droppedS.push_back(std::move(pconnection));
        } else if (pconnection) {
            _idleS.push_back(std::move(pconnection));
        }
        _cv.notifyOne();
    }
}

void LdapPool::run(const std::function<void(LdapConnection&)>& fn)
{
    for (int nTry = 0;; ++nTry) {
        bool bReused = false;
        std::unique_ptr<LdapConnection> pconnection = take(bReused);
        try {
            fn(*pconnection);
        } catch (const OstrelData::Exception&) {
            const bool bBroken = pconnection->broken();
            give(std::move(pconnection));
            // A connection that sat in the pool may have lost its link meanwhile (a restarted
            // directory): once more on a new one.
            if (bBroken && bReused && nTry == 0) continue;
            throw;
        } catch (...) {
            give(nullptr);
            throw;
        }
        give(std::move(pconnection));
        return;
    }
}

std::shared_ptr<LdapPool> LdapPool::shared(const LdapSettings& settings, bool bServiceBound)
{
    // Kept while the module is loaded: authenticators made again at a reload find their pools.
    // Objects, not pointers to objects: the module may be unloaded before the process ends, and
    // what only its statics pointed at would be lost then.
    // Held by the authenticators that use them: a pool whose settings no domain has any more (a
    // changed password, another URL) goes with its connections and what it knew.
    static Corvel::Mutex s_mx;
    static std::map<std::string, std::weak_ptr<LdapPool>> s_poolS;
    Corvel::MutexLock lock(s_mx);
    for (auto it = s_poolS.begin(); it != s_poolS.end();)
        it = it->second.expired() ? s_poolS.erase(it) : std::next(it);
    std::weak_ptr<LdapPool>& pweak = s_poolS[settings.poolKey() + (bServiceBound ? "\nS" : "\nU")];
    std::shared_ptr<LdapPool> ppool = pweak.lock();
    if (!ppool) {
        ppool = std::make_shared<LdapPool>(settings, bServiceBound);
        pweak = ppool;
    }
    return ppool;
}

} // namespace AuthLdap
