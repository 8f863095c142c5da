#ifndef OSTREL_TESTS_LDAP_LDAPHARNESS_H
#define OSTREL_TESTS_LDAP_LDAPHARNESS_H

// The directory servers of the LDAP plug-in's tests: the one the ctest fixture Slapd started for the
// whole run (slapd.sh start), and private ones that a test starts, stops and starts again itself.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "OstrelData/InitMap.h"

namespace LdapTest {

inline std::string readLine(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::string str;
    if (!in || !std::getline(in, str) || str.empty())
        throw std::runtime_error(strPath + " is missing: run the suite through ctest (fixture Slapd), or run " +
                                 std::string(OSTREL_SLAPD_SCRIPT) + " start " + OSTREL_LDAP_DIR);
    return str;
}

inline int runScript(const std::string& strAction, const std::string& strDir)
{
    const std::string strCommand = "bash '" + std::string(OSTREL_SLAPD_SCRIPT) + "' " + strAction + " '" + strDir + "'";
    return std::system(strCommand.c_str());
}

// A directory server: the shared one, or (bPrivate) one of the test's own, removed with the object.
class Slapd {
public:
    explicit Slapd(bool bPrivate = false) : _bPrivate(bPrivate)
    {
        static std::atomic<int> s_nCounter{0};
        _strDir = bPrivate ? std::string(OSTREL_LDAP_WORK) + "/private-" + std::to_string(getpid()) + "-" +
                                 std::to_string(++s_nCounter)
                           : std::string(OSTREL_LDAP_DIR);
        if (bPrivate && runScript("start", _strDir) != 0) throw std::runtime_error("slapd did not start in " + _strDir);
        _strLdapPort = readLine(_strDir + "/ldap.port");
        _strLdapsPort = readLine(_strDir + "/ldaps.port");
    }
    ~Slapd()
    {
        if (_bPrivate) runScript("stop", _strDir);
    }
    Slapd(const Slapd&) = delete;
    Slapd& operator=(const Slapd&) = delete;

    std::string ldapUrl() const { return "ldap://127.0.0.1:" + _strLdapPort; }
    std::string ldapsUrl() const { return "ldaps://127.0.0.1:" + _strLdapsPort; }
    std::string caFile() const { return _strDir + "/ca.pem"; }
    std::string otherCaFile() const { return _strDir + "/other-ca.pem"; }
    std::string adminPassword() const { return readLine(_strDir + "/admin.pw"); }
    const std::string& dir() const { return _strDir; }

    // Only for private servers.
    void halt() const { runScript("halt", _strDir); }
    void resume() const
    {
        if (runScript("resume", _strDir) != 0) throw std::runtime_error("slapd did not start again");
    }
    // Freezes (SIGSTOP) or thaws the server: it still takes connections, but answers nothing.
    void freeze(bool bFrozen) const
    {
        const pid_t pid = static_cast<pid_t>(std::atol(readLine(_strDir + "/slapd.pid").c_str()));
        if (pid <= 0) return;
        ::kill(pid, bFrozen ? SIGSTOP : SIGCONT);
        // A stop takes each of the server's threads as it next comes out of the kernel: one busy on
        // the other core could still answer the request that follows, on a loaded machine.
        for (int nTry = 0; bFrozen && nTry < 400 && !allThreadsStopped(pid); ++nTry)
            ::usleep(5000);
    }

    static bool allThreadsStopped(pid_t pid)
    {
        const std::string strTasks = "/proc/" + std::to_string(pid) + "/task";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(strTasks, error)) {
            // The state follows the command name, which ends at the last ')'.
            std::ifstream stat(entry.path() / "stat");
            const std::string strStat((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
            const size_t nClose = strStat.rfind(')');
            if (nClose == std::string::npos || nClose + 2 >= strStat.size()) return false;
            const char cState = strStat[nClose + 2];
            if (cState != 'T' && cState != 't') return false;
        }
        return !error;
    }

private:
    bool _bPrivate;
    std::string _strDir;
    std::string _strLdapPort;
    std::string _strLdapsPort;
};

// Parameters of a domain on the server: DN templates on plain loopback LDAP.
inline OstrelData::InitMap templateParams(const Slapd& slapd)
{
    return {{"url", slapd.ldapUrl()},
            {"user_dn_template", "uid=%s,ou=people,dc=example,dc=org"},
            {"group_base", "ou=groups,dc=example,dc=org"},
            {"timeout_ms", "3000"},
            {"connect_timeout_ms", "2000"}};
}

// Search-then-bind with the reader account.
inline OstrelData::InitMap searchParams(const Slapd& slapd)
{
    return {{"url", slapd.ldapUrl()},
            {"bind_dn", "cn=reader,dc=example,dc=org"},
            {"bind_password", "reader-pw"},
            {"user_base", "ou=people,dc=example,dc=org"},
            {"user_filter", "(&(objectClass=inetOrgPerson)(uid=%s))"},
            {"group_base", "ou=groups,dc=example,dc=org"},
            {"timeout_ms", "3000"},
            {"connect_timeout_ms", "2000"}};
}

} // namespace LdapTest

#endif
