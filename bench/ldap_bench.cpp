// Logins through ostreld with the LDAP plug-in beside plain libldap work against the same slapd,
// in the same run, on this machine: at 1 and 16 clients, each client on a connection of its own
// (a thread of this process), for a few seconds each.
//
//   ostreldLdapLogin  a login (RSA step, XML, the plug-in's search-then-bind with the reader account
//                     and a group search, authorisation) through ostreld, domain DIR
//   plainBind         ldap_sasl_bind_s as the user on a kept connection
//   plainSearchBind   what the plug-in asks of the directory per login, done directly: the user's
//                     entry searched as the reader, a bind as the user, his groups searched
//
// The directory is a throw-away slapd (tests/ldap/slapd.sh, the test directory's users), the daemon
// runs on a SQLite database made by ostrel-admin, logging warnings only. At the end the login rate
// is set beside both plain rates.
//
//   bench_ldap [benchmark flags]

#include <benchmark/benchmark.h>
#include <ldap.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LoadKit.h"
#include "OstrelData/OstrelData.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const apszUser[] = {"alice", "bob", "carol", "dave"};
constexpr double dRunSeconds = 3.0;

using OstrelBench::readFile;
using OstrelBench::run;

std::string firstLine(const std::string& strPath)
{
    std::string str = readFile(strPath);
    return str.substr(0, str.find('\n'));
}

// slapd, the database and ostreld, made once per process and removed at its end.
class Setup {
public:
    Setup()
    {
        char szDir[] = "/tmp/ostrel-ldapbench-XXXXXX";
        if (mkdtemp(szDir) == nullptr) throw std::runtime_error("no temporary folder");
        _strDir = szDir;
        run({"bash", OSTREL_BENCH_SLAPD_SCRIPT, "start", _strDir + "/slapd"}, _strDir + "/slapd.log");
        _strUrl = "ldap://127.0.0.1:" + firstLine(_strDir + "/slapd/ldap.port");
        const std::string strConnect = "engine=sqlite;database=ostrel;file=" + _strDir + "/ostrel.db";
        auto admin = [&](const std::vector<std::string>& wordS) {
            std::vector<std::string> argS{OSTREL_BENCH_ADMIN, "--connect", strConnect};
            argS.insert(argS.end(), wordS.begin(), wordS.end());
            run(argS, _strDir + "/admin.log");
        };
        admin({"init", "--plugin", OSTREL_BENCH_SQL_PLUGIN, "--sql-dir", OSTREL_SQL_DIR});
        admin({"library", "add", "2", "LDAP directory", "--file", OSTREL_BENCH_LDAP_PLUGIN});
        admin({"customer", "add", "ACME", "Acme"});
        admin({"domain", "add", "DIR", "ACME", "--library", "2", "--user-tools", "no"});
        for (const auto& param : std::vector<std::pair<std::string, std::string>>{
                 {"url", _strUrl},
                 {"bind_dn", "cn=reader,dc=example,dc=org"},
                 {"bind_password", "reader-pw"},
                 {"user_base", "ou=people,dc=example,dc=org"},
                 {"user_filter", "(&(objectClass=inetOrgPerson)(uid=%s))"},
                 {"group_style", "member"},
                 {"group_base", "ou=groups,dc=example,dc=org"},
                 {"pool_size", "16"}})
            admin({"param", "set", "domain", "DIR", param.first, param.second});
        admin({"profile", "add", "default", "--default"});

        std::vector<std::string> argS{OSTREL_BENCH_DAEMON, "--connect",    strConnect, "--listen", "127.0.0.1:0",
                                      "--address-file",    _strDir + "/address", "--log-level", "warning"};
        std::vector<std::string> addressS;
        _pid = OstrelBench::startDaemon(argS, _strDir + "/daemon.log", _strDir + "/address", addressS);
        _strAddress = addressS.front();
    }
    ~Setup()
    {
        OstrelBench::stopDaemon(_pid);
        std::string strCommand = "bash '" + std::string(OSTREL_BENCH_SLAPD_SCRIPT) + "' stop '" + _strDir + "/slapd'";
        if (std::system(strCommand.c_str()) != 0) std::fprintf(stderr, "bench_ldap: slapd.sh stop failed\n");
        std::error_code ignored;
        std::filesystem::remove_all(_strDir, ignored);
    }

    const std::string& url() const { return _strUrl; }
    const std::string& address() const { return _strAddress; }

private:
    std::string _strDir;
    std::string _strUrl;
    std::string _strAddress;
    pid_t _pid = -1;
};

Setup& setup()
{
    static Setup s_setup;
    return s_setup;
}

// A kept libldap connection, bound as the reader when asked.
class PlainConnection {
public:
    PlainConnection(const std::string& strUrl, bool bAsReader)
    {
        if (ldap_initialize(&_pld, strUrl.c_str()) != LDAP_SUCCESS) throw std::runtime_error("ldap_initialize");
        int nVersion = LDAP_VERSION3;
        ldap_set_option(_pld, LDAP_OPT_PROTOCOL_VERSION, &nVersion);
        if (bAsReader && !bind("cn=reader,dc=example,dc=org", "reader-pw"))
            throw std::runtime_error("the reader cannot bind");
    }
    ~PlainConnection() { ldap_unbind_ext_s(_pld, nullptr, nullptr); }

    bool bind(const std::string& strDn, const std::string& strPassword)
    {
        berval cred{strPassword.size(), const_cast<char*>(strPassword.data())};
        return ldap_sasl_bind_s(_pld, strDn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr) ==
               LDAP_SUCCESS;
    }
    // The DN of the first entry found; empty when none.
    std::string search(const std::string& strBase, const std::string& strFilter, const char* pszAttribute)
    {
        char* apszAttr[] = {const_cast<char*>(pszAttribute), nullptr};
        LDAPMessage* presult = nullptr;
        std::string strDn;
        if (ldap_search_ext_s(_pld, strBase.c_str(), LDAP_SCOPE_SUBTREE, strFilter.c_str(), apszAttr, 0, nullptr,
                              nullptr, nullptr, 100, &presult) == LDAP_SUCCESS) {
            if (LDAPMessage* pentry = ldap_first_entry(_pld, presult)) {
                char* pszDn = ldap_get_dn(_pld, pentry);
                if (pszDn) strDn = pszDn;
                ldap_memfree(pszDn);
            }
        }
        if (presult) ldap_msgfree(presult);
        return strDn;
    }

private:
    LDAP* _pld = nullptr;
};

enum class Work { ostreldLogin, plainBind, plainSearchBind };

std::map<std::string, double> g_rateS;  // best logins (or binds) per second, by run name

// Each client repeats its work for the run's time; returns how many succeeded, or -1 on a failure.
long clientLoop(Work work, int nClient, Clock::time_point tEnd)
{
    long nDone = 0;
    const std::string& strUrl = setup().url();
    if (work == Work::ostreldLogin) {
        static const OstrelData::Customer s_customer("ACME", "");
        static const OstrelData::Domain s_domain(s_customer, "DIR");
        OstrelBench::LoadClient client(setup().address(), std::string());
        client.connect();
        client.fetchKey();
        for (int i = nClient; Clock::now() < tEnd; ++i, ++nDone)
            if (!client.loginWith(OstrelData::User(s_domain, apszUser[i % 4], "", "", ""),
                                  std::string(apszUser[i % 4]) + "-pw"))
                return -1;
    } else if (work == Work::plainBind) {
        PlainConnection connection(strUrl, false);
        for (int i = nClient; Clock::now() < tEnd; ++i, ++nDone)
            if (!connection.bind(std::string("uid=") + apszUser[i % 4] + ",ou=people,dc=example,dc=org",
                                 std::string(apszUser[i % 4]) + "-pw"))
                return -1;
    } else {
        PlainConnection reader(strUrl, true);
        PlainConnection binder(strUrl, false);
        for (int i = nClient; Clock::now() < tEnd; ++i, ++nDone) {
            const std::string strUser = apszUser[i % 4];
            const std::string strDn =
                reader.search("ou=people,dc=example,dc=org", "(&(objectClass=inetOrgPerson)(uid=" + strUser + "))", "cn");
            if (strDn.empty() || !binder.bind(strDn, strUser + "-pw")) return -1;
            benchmark::DoNotOptimize(reader.search("dc=example,dc=org", "(member=" + strDn + ")", "cn"));
        }
    }
    return nDone;
}

void load(benchmark::State& state, const char* pszName, Work work)
{
    const int nClients = static_cast<int>(state.range(0));
    setup();
    for (auto _ : state) {
        std::vector<std::thread> threadS;
        std::vector<long> doneS(static_cast<size_t>(nClients), 0);
        const auto tStart = Clock::now();
        const auto tEnd = tStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dRunSeconds));
        for (int c = 0; c < nClients; ++c)
            threadS.emplace_back([&, c] {
                try {
                    doneS[static_cast<size_t>(c)] = clientLoop(work, c, tEnd);
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "bench_ldap: %s\n", e.what());
                    doneS[static_cast<size_t>(c)] = -1;
                }
            });
        for (std::thread& thread : threadS)
            thread.join();
        const double dSeconds = std::chrono::duration<double>(Clock::now() - tStart).count();
        state.SetIterationTime(dSeconds);
        double dDone = 0;
        for (long n : doneS) {
            if (n < 0) {
                state.SkipWithError("a login or bind failed");
                return;
            }
            dDone += static_cast<double>(n);
        }
        state.counters["per_s"] = dDone / dSeconds;
        double& dBest = g_rateS[std::string(pszName) + "/" + std::to_string(nClients)];
        dBest = std::max(dBest, dDone / dSeconds);
    }
}

void printRatios()
{
    for (int nClients : {1, 16}) {
        const std::string strClients = "/" + std::to_string(nClients);
        const double dLogin = g_rateS["ostreldLdapLogin" + strClients];
        const double dBind = g_rateS["plainBind" + strClients];
        const double dSearchBind = g_rateS["plainSearchBind" + strClients];
        if (dLogin <= 0 || dBind <= 0 || dSearchBind <= 0) continue;
        std::printf("%2d client(s): ostreld LDAP logins %.0f/s; plain binds %.0f/s (ratio %.3f); plain "
                    "search+bind+groups %.0f/s (ratio %.3f)\n",
                    nClients, dLogin, dBind, dLogin / dBind, dSearchBind, dLogin / dSearchBind);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::pair<const char*, Work> runS[] = {{"ostreldLdapLogin", Work::ostreldLogin},
                                                 {"plainBind", Work::plainBind},
                                                 {"plainSearchBind", Work::plainSearchBind}};
    for (const auto& one : runS) {
        const char* pszName = one.first;
        const Work work = one.second;
        benchmark::RegisterBenchmark(pszName, [pszName, work](benchmark::State& state) { load(state, pszName, work); })
            ->Arg(1)
            ->Arg(16)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    printRatios();
    return 0;
}
