#include "LoadKit.h"

#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "OstrelDataXML/OstrelFactory.h"
#include "VeskDal/VeskDal.h"
#include "crypto/base64.h"

extern char** environ;

namespace OstrelBench {

namespace {

using Codec = OstrelDataXML::Factory;
using Clock = std::chrono::steady_clock;

std::vector<char*> argvOf(const std::vector<std::string>& argS)
{
    std::vector<char*> argv;
    for (const std::string& str : argS)
        argv.push_back(const_cast<char*>(str.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Writes all of a buffer to a pipe; false when the reader is gone.
bool writeAll(int fd, const void* pv, size_t nSize)
{
    const char* pch = static_cast<const char*>(pv);
    while (nSize > 0) {
        ssize_t n = write(fd, pch, nSize);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pch += n;
        nSize -= static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly nSize bytes; false at the end of the pipe before that.
bool readAll(int fd, void* pv, size_t nSize)
{
    char* pch = static_cast<char*>(pv);
    while (nSize > 0) {
        ssize_t n = read(fd, pch, nSize);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pch += n;
        nSize -= static_cast<size_t>(n);
    }
    return true;
}

// The body of one client process: runs body between the ready and start signals and sends its
// outcome, then per kind the count and the latencies, through fdOut. Never returns.
[[noreturn]] void clientProcess(int c, size_t nKinds, const ClientBody& body, int fdReady, int fdStart, int fdOut)
{
    ClientOutcome outcome;
    std::vector<std::vector<double>> latencyS(nKinds);
    try {
        body(
            c,
            [&] {
                char ch = 'r';
                if (!writeAll(fdReady, &ch, 1)) _exit(3);
                // The start is the end of that pipe: the read returns once the parent closes it.
                while (read(fdStart, &ch, 1) < 0 && errno == EINTR) {
                }
            },
            outcome, latencyS);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: client %d: %s\n", program_invocation_short_name, c, e.what());
        outcome.bFailed = 1;
    }
    bool bSent = writeAll(fdOut, &outcome, sizeof outcome);
    for (size_t k = 0; k < nKinds && bSent; ++k) {
        const uint64_t nCount = k < latencyS.size() ? latencyS[k].size() : 0;
        bSent = writeAll(fdOut, &nCount, sizeof nCount) &&
                (nCount == 0 || writeAll(fdOut, latencyS[k].data(), nCount * sizeof(double)));
    }
    _exit(bSent ? 0 : 3);
}

} // namespace

OstrelGen::Size loadSize()
{
    OstrelGen::Size size;
    size.nCustomers = 5;
    size.nDomains = 20;
    size.nUsers = 2000;
    size.nTeams = 100;
    size.nTeamsPerUser = 2;
    size.nProducts = 10;
    size.nRoles = 5;
    size.nPermissions = 8;
    size.nPermissionsPerRole = 3;
    size.nProductsPerTeam = 2;
    return size;
}

const OstrelData::Domain& domainOf(int nUser)
{
    static const OstrelData::Customer s_customer("customer0", "");
    static std::vector<std::unique_ptr<OstrelData::Domain>> s_domainS;
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        for (int d = 0; d < loadSize().nDomains; ++d)
            s_domainS.push_back(std::make_unique<OstrelData::Domain>(s_customer, OstrelGen::domainName(d)));
    });
    return *s_domainS[static_cast<size_t>(nUser % loadSize().nDomains)];
}

std::string readFile(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void run(const std::vector<std::string>& argS, const std::string& strLog, const std::string& strStdin)
{
    int afd[2];
    if (pipe(afd) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, afd[0], 0);
    posix_spawn_file_actions_addclose(&actions, afd[1]);
    posix_spawn_file_actions_addopen(&actions, 1, strLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, strLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> argv = argvOf(argS);
    pid_t pid = -1;
    const int nSpawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(afd[0]);
    if (nSpawned != 0) {
        close(afd[1]);
        throw std::runtime_error("cannot start " + argS[0]);
    }
    // A program that reads no input may be gone before it is written.
    signal(SIGPIPE, SIG_IGN);
    if (!strStdin.empty()) writeAll(afd[1], strStdin.data(), strStdin.size());
    close(afd[1]);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
        std::string strCommand;
        for (const std::string& str : argS)
            strCommand += (strCommand.empty() ? "" : " ") + str;
        throw std::runtime_error(strCommand + " failed: " + readFile(strLog));
    }
}

pid_t startDaemon(const std::vector<std::string>& argS, const std::string& strLog,
                  const std::string& strAddressFile, std::vector<std::string>& addressS)
{
    std::remove(strAddressFile.c_str());
    std::vector<char*> argv = argvOf(argS);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);  // the database pool reports on stdout
    pid_t pid = -1;
    const int nSpawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawned != 0) throw std::runtime_error("cannot start " + argS[0]);
    for (int i = 0; i < 1200 && readFile(strAddressFile).empty(); ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) throw std::runtime_error("ostreld did not start: " + readFile(strLog));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    addressS.clear();
    std::istringstream lineS(readFile(strAddressFile));
    for (std::string strLine; std::getline(lineS, strLine);)
        if (!strLine.empty()) addressS.push_back(strLine);
    if (addressS.empty()) {
        stopDaemon(pid);
        throw std::runtime_error("ostreld did not start: " + readFile(strLog));
    }
    return pid;
}

void stopDaemon(pid_t pid)
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

int freeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    const bool bOk = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength) == 0;
    if (fd >= 0) close(fd);
    if (!bOk) throw std::runtime_error(std::string("no free port: ") + std::strerror(errno));
    return ntohs(address.sin_port);
}

std::string httpGet(const std::string& strHostPort, const std::string& strPath)
{
    const std::string::size_type nColon = strHostPort.rfind(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(strHostPort.substr(nColon + 1))));
    if (inet_pton(AF_INET, strHostPort.substr(0, nColon).c_str(), &address.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + strHostPort);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error(std::string("no socket: ") + std::strerror(errno));
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string strReply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string strRequest = "GET " + strPath + " HTTP/1.1\r\nHost: " + strHostPort + "\r\nConnection: close\r\n\r\n";
        if (send(fd, strRequest.data(), strRequest.size(), MSG_NOSIGNAL) == ssize_t(strRequest.size())) {
            char ab[16384];
            for (ssize_t n; (n = recv(fd, ab, sizeof ab, 0)) > 0;)
                strReply.append(ab, static_cast<size_t>(n));
        }
    }
    close(fd);
    const std::string::size_type nBody = strReply.find("\r\n\r\n");
    if (strReply.compare(0, 13, "HTTP/1.1 200 ") != 0 || nBody == std::string::npos)
        throw std::runtime_error("GET " + strPath + " from " + strHostPort + " failed");
    return strReply.substr(nBody + 4);
}

long residentKiB(pid_t pid)
{
    std::istringstream lineS(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string strLine; std::getline(lineS, strLine);) {
        if (strLine.compare(0, 6, "VmRSS:") == 0) return std::strtol(strLine.c_str() + 6, nullptr, 10);
    }
    return 0;
}

double processCpuSeconds(pid_t pid)
{
    std::string strStat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::string::size_type n = strStat.rfind(')');
    if (n == std::string::npos) return 0;
    std::istringstream fields(strStat.substr(n + 2));
    std::string strField;
    unsigned long long nUser = 0, nSystem = 0;
    for (int i = 3; i <= 15 && fields >> strField; ++i) {
        if (i == 14) nUser = std::stoull(strField);
        if (i == 15) nSystem = std::stoull(strField);
    }
    return static_cast<double>(nUser + nSystem) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void shareFirstUsersHash(const std::string& strConnect, const std::string& strFirstUserId)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
    std::unique_ptr<VeskDal::DalDatabase> pdb(VeskDal::DalDynamic::dalDatabase(parameterS.at("engine")));
    pdb->open(parameterS);
    VeskDal::SqlTable table(VeskDal::SqlSchema(), "User");
    VeskDal::SqlSelectStatement select(table);
    select.addColumn(VeskDal::SqlColumn(table, "AuthenticationToken"));
    select.setWhere(
        VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"), VeskDal::SqlText(strFirstUserId), VeskDal::condEqual));
    VeskDal::DalDatabase::Result result;
    pdb->query(result, select, 0);
    if (result.empty()) throw std::runtime_error("the first user has no row");
    VeskDal::SqlUpdateStatement update(table);
    update.addColumn(VeskDal::SqlColumn(table, "AuthenticationToken"), result.front()["AuthenticationToken"]);
    update.setWhere(
        VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"), VeskDal::SqlText(""), VeskDal::condNotEqual));
    pdb->execute(update);
}

// ---- the client

LoadClient::LoadClient(const std::string& strAddress, const std::string& strPassword)
    : _comm(Corvel::DaemonComm::Callback([this](Corvel::DaemonComm::Status status, const std::string& strMessage) {
          std::lock_guard<std::mutex> lock(_mx);
          _bBroken = _bBroken || status == Corvel::DaemonComm::error;
          if (status == Corvel::DaemonComm::response) {
              _strReply = strMessage;
              _bReply = true;
          }
          _cv.notify_all();
      })),
      _strPassword(strPassword)
{
    mp_init(&_key.e);
    mp_init(&_key.d);
    mp_init(&_key.N);
    std::string s1, s2, s3;
    int n = 0;
    _comm.locateService(s1, s2, s3, n, strAddress, "ostreld");
}

LoadClient::~LoadClient() { rsa_free(&_key); }

void LoadClient::connect(const Corvel::DaemonCommTls& tls)
{
    _comm.setTls(tls);
    _comm.connect();
}

void LoadClient::fetchKey()
{
    Vesk::XMLDoc request = Codec::Envelope::request("initialize");
    request.rootNode()->attribute("version", "5.0.4.0");
    Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
    Codec::RsaKey::fromXML(reply.rootNode()->findChild("rsa"), _key);
}

bool LoadClient::loginAndCheck(const OstrelData::User& user, OstrelData::AuthenticatedUser* pauthenticated)
{
    Vesk::XMLDoc request = Codec::Envelope::request("authenticate");
    Codec::User::toXML(request.rootNode(), user);
    request.rootNode()->addNode("authenticationtoken", encrypted(_strPassword));
    Codec::Profile::toXML(request.rootNode(), OstrelData::Profile("", false));
    Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
    const Vesk::XMLNode* puser = reply.rootNode()->findChild("authenticateduser");
    if (puser == nullptr) return false;
    OstrelData::AuthenticatedUser authenticated = Codec::AuthenticatedUser::fromXML(puser);
    const OstrelData::ProductMap& productS = static_cast<const OstrelData::User&>(authenticated).products();
    bool bHeld = false;
    for (const auto& product : productS)
        for (const auto& permission : product.second.permissions())
            bHeld = bHeld || permission.second.hasPermission();
    benchmark::DoNotOptimize(bHeld);
    if (pauthenticated != nullptr) *pauthenticated = authenticated;
    return true;
}

bool LoadClient::loginWith(const OstrelData::User& user, const std::string& strPassword)
{
    Vesk::XMLDoc request = Codec::Envelope::request("authenticate");
    Codec::User::toXML(request.rootNode(), user);
    request.rootNode()->addNode("authenticationtoken", encrypted(strPassword));
    Codec::Profile::toXML(request.rootNode(), OstrelData::Profile("", false));
    Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
    return reply.rootNode()->findChild("authenticateduser") != nullptr;
}

bool LoadClient::persist(const OstrelData::AuthenticatedUser& authenticated)
{
    Vesk::XMLDoc request = Codec::Envelope::request("persistsession");
    Codec::AuthenticatedUser::toXML(request.rootNode(), authenticated, true);
    Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
    return reply.rootNode()->attribute("response").str() == "persistsession";
}

bool LoadClient::retrieve(const OstrelData::Session& session)
{
    Vesk::XMLDoc request = Codec::Envelope::request("retrievesession");
    Codec::Session::toXML(request.rootNode(), session, false);
    Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
    return reply.rootNode()->findChild("authenticateduser") != nullptr;
}

bool LoadClient::kill(const OstrelData::Session& session)
{
    Vesk::XMLDoc request = Codec::Envelope::request("killsession");
    Codec::Session::toXML(request.rootNode(), session, false);
    Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
    return reply.rootNode()->attribute("response").str() == "killsession";
}

std::string LoadClient::exchange(const std::string& strRequest)
{
    {
        std::lock_guard<std::mutex> lock(_mx);
        _bReply = false;
    }
    _comm.send(strRequest);
    std::unique_lock<std::mutex> lock(_mx);
    if (!_cv.wait_for(lock, std::chrono::seconds(30), [this] { return _bReply || _bBroken; }) || !_bReply)
        throw std::runtime_error("no reply");
    return _strReply;
}

std::string LoadClient::encrypted(const std::string& strPassword) const
{
    unsigned char abyCipher[4096];
    unsigned long nCipher = sizeof abyCipher;
    rsa_exptmod(reinterpret_cast<const unsigned char*>(strPassword.data()), strPassword.size(), abyCipher, &nCipher,
                PK_PUBLIC, &_key);
    unsigned char abyText[8192];
    unsigned long nText = sizeof abyText;
    base64_encode(abyCipher, nCipher, abyText, &nText);
    return std::string(reinterpret_cast<const char*>(abyText), nText);
}

// ---- client processes

ClientsResult runClients(int nClients, size_t nKinds, const ClientBody& body, const std::function<void()>& atStart)
{
    ClientsResult result;
    int afdReady[2], afdStart[2];
    if (pipe(afdReady) != 0 || pipe(afdStart) != 0) throw std::runtime_error("no pipe");
    std::vector<pid_t> pidS;
    std::vector<int> fdOutS;
    std::fflush(nullptr);
    for (int c = 0; c < nClients; ++c) {
        int afdOut[2];
        if (pipe(afdOut) != 0) throw std::runtime_error("no pipe");
        pid_t pid = fork();
        if (pid < 0) throw std::runtime_error("cannot fork a client");
        if (pid == 0) {
            close(afdOut[0]);
            close(afdReady[0]);
            close(afdStart[1]);
            clientProcess(c, nKinds, body, afdReady[1], afdStart[0], afdOut[1]);
        }
        close(afdOut[1]);
        pidS.push_back(pid);
        fdOutS.push_back(afdOut[0]);
    }
    close(afdReady[1]);
    close(afdStart[0]);
    // All connected before the clock starts; then all go at once.
    for (int c = 0; c < nClients; ++c) {
        char ch = 0;
        if (!readAll(afdReady[0], &ch, 1)) result.bFailed = true;
    }
    if (atStart) atStart();
    const Clock::time_point tStart = Clock::now();
    close(afdStart[1]);  // the end of the pipe is the start signal
    close(afdReady[0]);

    result.outcomeS.resize(static_cast<size_t>(nClients));
    result.latencyS.resize(static_cast<size_t>(nClients));
    for (size_t i = 0; i < fdOutS.size(); ++i) {
        const int fd = fdOutS[i];
        ClientOutcome& outcome = result.outcomeS[i];
        if (!readAll(fd, &outcome, sizeof outcome) || outcome.bFailed) result.bFailed = true;
        result.latencyS[i].resize(nKinds);
        for (size_t k = 0; k < nKinds && !result.bFailed; ++k) {
            uint64_t nCount = 0;
            if (!readAll(fd, &nCount, sizeof nCount) || nCount > 10000000) {
                result.bFailed = true;
                break;
            }
            result.latencyS[i][k].resize(static_cast<size_t>(nCount));
            if (!readAll(fd, result.latencyS[i][k].data(), nCount * sizeof(double))) result.bFailed = true;
        }
        close(fd);
    }
    result.dSeconds = std::chrono::duration<double>(Clock::now() - tStart).count();
    for (pid_t pid : pidS) {
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
            std::fprintf(stderr, "%s: a client ended with status %d\n", program_invocation_short_name, nStatus);
            result.bFailed = true;
        }
    }
    return result;
}

double percentile(const std::vector<double>& sortedS, int nPercent)
{
    if (sortedS.empty()) return 0;
    return sortedS[std::min(sortedS.size() - 1, sortedS.size() * static_cast<size_t>(nPercent) / 100)];
}

} // namespace OstrelBench
