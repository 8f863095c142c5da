#include "DaemonHarness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "OstrelDal/OstrelDal.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "crypto/base64.h"

extern char** environ;

namespace DaemonTest {

namespace {

using Codec = OstrelDataXML::Factory;

std::string readFile(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string makeTemporaryDirectory()
{
    char szDir[] = "/tmp/ostreld-test-XXXXXX";
    if (::mkdtemp(szDir) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    return szDir;
}

void removeDirectory(const std::string& strDir)
{
    for (const char* pszName : {"/out", "/err", "/in", "/daemon.log", "/address", "/address.tmp", "/ostreld.conf"})
        std::remove((strDir + pszName).c_str());
    ::rmdir(strDir.c_str());
}

// Starts a program with standard input, output and error on the given files.
pid_t spawn(const std::vector<std::string>& argS, const std::string& strIn, const std::string& strOut,
            const std::string& strErr)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, strIn.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, strErr.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> argv;
    for (const std::string& str : argS)
        argv.push_back(const_cast<char*>(str.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int nError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nError != 0) throw std::runtime_error("cannot start " + argS[0] + ": " + std::strerror(nError));
    return pid;
}

int exitCodeOf(int nStatus)
{
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// The sample rows that ostrel-admin cannot make in one word, and the ones it can.
void populate(const std::string& strConnect)
{
    auto run = [&](const std::vector<std::string>& argS, const std::string& strInput = std::string()) {
        admin(strConnect, argS, strInput);
    };
    run({"init", "--plugin", OSTREL_TEST_AUTHSQL_PLUGIN, "--sql-dir", OSTREL_SQL_DIR});
    run({"param", "set", "library", "1", "argon2_opslimit", "1"});
    run({"param", "set", "library", "1", "argon2_memlimit_kib", "8"});
    run({"param", "set", "library", "1", "lockout_threshold", "3"});
    // Long enough that a lock, counted in whole seconds, outlasts a slow test's next steps.
    run({"param", "set", "library", "1", "lockout_seconds", "5"});
    run({"customer", "add", "ACME", "Acme Ltd"});
    run({"domain", "add", "EAST", "ACME", "--description", "East office"});
    run({"domain", "add", "WEST", "ACME", "--description", "West office"});
    for (const char* pszUser : {"alice", "bob", "carol", "dave", "erin"})
        run({"user", "add", std::string("EAST/") + pszUser, "--name", std::string("User ") + pszUser, "--contact",
             std::string(pszUser) + "@example.org", "--password-stdin"},
            std::string(pszUser) + "-pw\n");
    run({"user", "add", "WEST/frank", "--name", "Frank", "--password-stdin"}, "frank-pw\n");
    run({"team", "add", "7", "ACME", "Ops"});
    run({"team", "add", "8", "ACME", "Dev"});
    run({"member", "add", "7", "EAST/alice", "--lead"});
    run({"member", "add", "7", "EAST/bob"});
    run({"member", "add", "8", "EAST/erin"});
    run({"product", "add", "Widgets", "--number", "10"});
    run({"role", "add", "10", "Operator", "--number", "1"});
    run({"role", "add", "10", "Auditor", "--number", "2"});
    run({"permission", "add", "10", "Start", "--number", "1"});
    run({"permission", "add", "10", "Stop", "--number", "2"});
    run({"permission", "add", "10", "Audit", "--number", "3"});
    run({"rolepermission", "add", "10", "1", "1"});
    run({"rolepermission", "add", "10", "1", "2"});
    run({"rolepermission", "add", "10", "2", "3"});
    run({"grant", "add", "team", "7", "10", "role", "1"});
    run({"grant", "add", "user", "EAST/bob", "10", "permission", "2", "--status", "revoked"});
    run({"grant", "add", "user", "EAST/alice", "0", "role", "1"});
    run({"grant", "add", "user", "EAST/alice", "0", "role", "2"});
    run({"profile", "add", "default", "--default"});
    run({"profile", "add", "night"});
    // Last, since every later load of the model would pay for it: WEST hashes at a cost that
    // makes a login take a noticeable while (frank's password is hashed anew at his first login).
    run({"param", "set", "domain", "WEST", "argon2_opslimit", "3"});
    run({"param", "set", "domain", "WEST", "argon2_memlimit_kib", "65536"});
}

// Names the sample's template: a new build of the harness, of ostrel-admin or of the plug-in (what
// writes the sample) makes a new one, so a template never outlives the code that filled it.
std::string sampleKey()
{
    std::string strKey = __DATE__ " " __TIME__;
    for (const char* pszPath : {OSTREL_TEST_ADMIN, OSTREL_TEST_AUTHSQL_PLUGIN, OSTREL_SQL_DIR "/sqlite.sql",
                                OSTREL_SQL_DIR "/postgresql.sql"}) {
        struct stat status {};
        if (::stat(pszPath, &status) == 0) strKey += "/" + std::to_string(status.st_mtim.tv_sec) + "." +
                                                     std::to_string(status.st_mtim.tv_nsec);
    }
    return std::to_string(std::hash<std::string>()(strKey));
}

} // namespace

ProgramResult runProgram(const std::vector<std::string>& argS, const std::string& strInput)
{
    const std::string strDir = makeTemporaryDirectory();
    {
        std::ofstream in(strDir + "/in");
        in << strInput;
    }
    ProgramResult result;
    pid_t pid = spawn(argS, strDir + "/in", strDir + "/out", strDir + "/err");
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    result.nExitCode = exitCodeOf(nStatus);
    result.strOut = readFile(strDir + "/out");
    result.strErr = readFile(strDir + "/err");
    removeDirectory(strDir);
    return result;
}

std::string admin(const std::string& strConnect, const std::vector<std::string>& argS, const std::string& strInput)
{
    std::vector<std::string> commandS{OSTREL_TEST_ADMIN, "--connect", strConnect};
    commandS.insert(commandS.end(), argS.begin(), argS.end());
    ProgramResult result = runProgram(commandS, strInput);
    std::string strShown;
    for (const std::string& str : argS)
        strShown += " " + str;
    if (result.nExitCode != 0)
        throw std::runtime_error("ostrel-admin" + strShown + " failed (" + std::to_string(result.nExitCode) +
                                 "): " + result.strErr);
    return result.strOut;
}

SampleDatabase::SampleDatabase(const std::string& strEngine) : _db(strEngine, sampleKey(), populate) {}

void SampleDatabase::renameTable(const char* pszFrom, const char* pszTo) const
{
    OstrelDal::setStatementEcho(OstrelDal::echoOff);
    OstrelDal::connect(connectString());
    {
        OstrelDal::Connection connection = OstrelDal::connection();
        const char* pszQuote = connection.db().language() == VeskDal::langMySQL ? "`" : "\"";
        connection.db().executeScript(std::string("ALTER TABLE ") + pszQuote + pszFrom + pszQuote + " RENAME TO " +
                                      pszQuote + pszTo + pszQuote);
    }
    OstrelDal::disconnect();
}

// ---- the daemon

DaemonProcess::DaemonProcess(const std::string& strConnect, const std::vector<std::string>& extraS,
                             bool bListenArgument)
{
    _strDir = makeTemporaryDirectory();
    {
        std::ofstream in(_strDir + "/in");
    }
    // A test may name the address file itself (the last one given counts).
    std::string strAddressFile = _strDir + "/address";
    for (size_t i = 0; i + 1 < extraS.size(); ++i)
        if (extraS[i] == "--address-file") strAddressFile = extraS[i + 1];
    std::vector<std::string> argS{OSTREL_TEST_DAEMON, "--address-file", _strDir + "/address"};
    if (!strConnect.empty()) argS.insert(argS.end(), {"--connect", strConnect});
    if (bListenArgument) argS.insert(argS.end(), {"--listen", "127.0.0.1:0"});
    // Whatever the machine's /etc/ostrel/ostreld.conf holds stays out of the tests: an empty file
    // of the daemon's own, unless the test names one.
    bool bConfigGiven = false;
    for (const std::string& strArg : extraS)
        bConfigGiven = bConfigGiven || strArg == "--config" || strArg.compare(0, 9, "--config=") == 0;
    if (!bConfigGiven) {
        std::ofstream config(_strDir + "/ostreld.conf");
        argS.insert(argS.end(), {"--config", _strDir + "/ostreld.conf"});
    }
    argS.insert(argS.end(), extraS.begin(), extraS.end());
    _pid = spawn(argS, _strDir + "/in", _strDir + "/daemon.log", _strDir + "/daemon.log");
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < tEnd) {
        std::string strAddress = readFile(strAddressFile);
        if (!strAddress.empty()) {
            _strAddress = strAddress.substr(0, strAddress.find('\n'));
            std::string::size_type nStart = 0, nEnd;
            while ((nEnd = strAddress.find('\n', nStart)) != std::string::npos) {
                _addressS.push_back(strAddress.substr(nStart, nEnd - nStart));
                nStart = nEnd + 1;
            }
            return;
        }
        int nStatus = 0;
        if (::waitpid(_pid, &nStatus, WNOHANG) == _pid) {
            _pid = -1;
            throw std::runtime_error("ostreld ended at start (" + std::to_string(exitCodeOf(nStatus)) +
                                     "): " + log());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("ostreld did not start listening: " + log());
}

DaemonProcess::~DaemonProcess()
{
    if (_pid > 0) {
        ::kill(_pid, SIGKILL);
        ::waitpid(_pid, nullptr, 0);
    }
    removeDirectory(_strDir);
}

void DaemonProcess::signal(int nSignal) const
{
    if (_pid > 0) ::kill(_pid, nSignal);
}

int DaemonProcess::stop(long nTimeoutMs)
{
    if (_pid <= 0) return -1;
    ::kill(_pid, SIGTERM);
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (std::chrono::steady_clock::now() < tEnd) {
        int nStatus = 0;
        if (::waitpid(_pid, &nStatus, WNOHANG) == _pid) {
            _pid = -1;
            return exitCodeOf(nStatus);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

std::string DaemonProcess::log() const
{
    return readFile(_strDir + "/daemon.log");
}

bool DaemonProcess::waitForLog(const std::string& strText, long nTimeoutMs) const
{
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    do {
        if (log().find(strText) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < tEnd);
    return false;
}

// ---- the wire client

WireClient::WireClient(const std::string& strAddress, const Corvel::DaemonCommTls& tls)
    : _comm(Corvel::DaemonComm::Callback(
          [this](Corvel::DaemonComm::Status status, const std::string& strMessage) { received(status, strMessage); }))
{
    mp_init(&_key.e);
    mp_init(&_key.d);
    mp_init(&_key.N);
    std::string s1, s2, strHost;
    int n = 0;
    _comm.setTls(tls);
    _comm.locateService(s1, s2, strHost, n, strAddress, "ostreld");
    _comm.connect();
}

WireClient::~WireClient()
{
    _comm.disconnect();
    rsa_free(&_key);
}

void WireClient::received(Corvel::DaemonComm::Status status, const std::string& strMessage)
{
    std::lock_guard<std::mutex> lock(_mx);
    if (status == Corvel::DaemonComm::error) {
        _bBroken = true;
    } else if (status == Corvel::DaemonComm::response) {
        _strReply = strMessage;
        _bHaveReply = true;
    }
    _cv.notify_all();
}

std::string WireClient::exchange(const std::string& strRequest, long nTimeoutMs)
{
    {
        std::lock_guard<std::mutex> lock(_mx);
        _bHaveReply = false;
    }
    _comm.send(strRequest);
    std::unique_lock<std::mutex> lock(_mx);
    if (!_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [this] { return _bHaveReply || _bBroken; }))
        throw std::runtime_error("no reply within " + std::to_string(nTimeoutMs) + " ms");
    if (!_bHaveReply) throw std::runtime_error("the connection broke before the reply came");
    return _strReply;
}

Vesk::XMLDoc WireClient::exchange(const Vesk::XMLDoc& docRequest, long nTimeoutMs)
{
    return Vesk::XMLDoc::parse(Vesk::String(exchange(docRequest.stream().str(), nTimeoutMs)));
}

Vesk::XMLDoc WireClient::initialize(const std::string& strVersion)
{
    Vesk::XMLDoc doc = Codec::Envelope::request("initialize");
    doc.rootNode()->attribute("version", strVersion);
    Vesk::XMLDoc reply = exchange(doc);
    if (responseOf(reply) == "rsa") Codec::RsaKey::fromXML(reply.rootNode()->findChild("rsa"), _key);
    return reply;
}

std::string WireClient::encrypt(const std::string& strPassword) const
{
    unsigned char abyCipher[4096];
    unsigned long nCipher = sizeof abyCipher;
    if (rsa_exptmod(reinterpret_cast<const unsigned char*>(strPassword.data()), strPassword.size(), abyCipher,
                    &nCipher, PK_PUBLIC, &_key) != CRYPT_OK)
        throw std::runtime_error("cannot encrypt (no key yet?)");
    unsigned char abyText[8192];
    unsigned long nText = sizeof abyText;
    if (base64_encode(abyCipher, nCipher, abyText, &nText) != CRYPT_OK) throw std::runtime_error("cannot encode");
    return std::string(reinterpret_cast<const char*>(abyText), nText);
}

Vesk::XMLDoc WireClient::authenticate(const std::string& strDomain, const std::string& strUserId,
                                      const std::string& strPassword, const std::string& strProfile)
{
    Vesk::XMLDoc doc = Codec::Envelope::request("authenticate");
    Codec::User::toXML(doc.rootNode(), OstrelData::User(clientDomain(strDomain), strUserId, "", "", ""));
    doc.rootNode()->addNode("authenticationtoken", encrypt(strPassword));
    Codec::Profile::toXML(doc.rootNode(), OstrelData::Profile(strProfile, false));
    return exchange(doc);
}

Vesk::XMLDoc WireClient::simple(const std::string& strRequest)
{
    return exchange(Codec::Envelope::request(strRequest));
}

std::string responseOf(const Vesk::XMLDoc& doc)
{
    return doc.rootNode() ? doc.rootNode()->attribute("response").str() : std::string();
}

int errorCodeOf(const Vesk::XMLDoc& doc)
{
    const Vesk::XMLNode* pexception = doc.rootNode() ? doc.rootNode()->findChild("exception") : nullptr;
    const Vesk::XMLNode* pcode = pexception ? pexception->findChild("errorcode") : nullptr;
    return pcode ? std::atoi(pcode->value().str().c_str()) : 0;
}

std::string legendOf(const Vesk::XMLDoc& doc)
{
    const Vesk::XMLNode* pexception = doc.rootNode() ? doc.rootNode()->findChild("exception") : nullptr;
    const Vesk::XMLNode* plegend = pexception ? pexception->findChild("legend") : nullptr;
    return plegend ? plegend->value().str() : std::string();
}

const OstrelData::Domain& clientDomain(const std::string& strDomain)
{
    static const OstrelData::Customer s_acme("ACME", "Acme Ltd");
    static std::map<std::string, OstrelData::Domain> s_domainS;
    static std::mutex s_mx;
    std::lock_guard<std::mutex> lock(s_mx);
    auto it = s_domainS.find(strDomain);
    if (it == s_domainS.end()) it = s_domainS.emplace(strDomain, OstrelData::Domain(s_acme, strDomain)).first;
    return it->second;
}

bool hasRole(const OstrelData::User& user, int nProduct, int nRole)
{
    const OstrelData::ProductMap& productS = user.products();
    auto it = productS.find(nProduct);
    if (it == productS.end()) return false;
    auto itRole = it->second.roles().find(nRole);
    return itRole != it->second.roles().end() && itRole->second.hasRole();
}

Vesk::XMLDoc requestWithUser(const std::string& strRequest, const OstrelData::AuthenticatedUser& user)
{
    Vesk::XMLDoc doc = Codec::Envelope::request(strRequest);
    Codec::AuthenticatedUser::toXML(doc.rootNode(), user, true);
    return doc;
}

Vesk::XMLDoc requestWithSession(const std::string& strRequest, const std::string& strSession)
{
    Vesk::XMLDoc doc = Codec::Envelope::request(strRequest);
    Codec::Session::toXML(doc.rootNode(), OstrelData::Session(strSession));
    return doc;
}

std::unique_ptr<WireClient> loggedIn(const DaemonProcess& daemon, const std::string& strUser)
{
    auto pclient = std::make_unique<WireClient>(daemon.address());
    pclient->initialize();
    if (!strUser.empty()) {
        Vesk::XMLDoc reply = pclient->authenticate("EAST", strUser, strUser + "-pw");
        if (responseOf(reply) != "authenticateduser")
            throw std::runtime_error("login of " + strUser + " refused: " + legendOf(reply));
    }
    return pclient;
}

std::string keptSession(const DaemonProcess& daemon, const std::string& strUser)
{
    auto pclient = loggedIn(daemon, strUser);
    Vesk::XMLDoc me = pclient->simple("authenticateduser");
    const OstrelData::AuthenticatedUser user =
        Codec::AuthenticatedUser::fromXML(me.rootNode()->findChild("authenticateduser"));
    Vesk::XMLDoc reply = pclient->exchange(requestWithUser("persistsession", user));
    if (responseOf(reply) != "persistsession")
        throw std::runtime_error("persistsession of " + strUser + " refused: " + legendOf(reply));
    return user.session().str();
}

Vesk::XMLDoc retrieved(const DaemonProcess& daemon, const std::string& strSession)
{
    WireClient client(daemon.address());
    client.initialize();
    return client.exchange(requestWithSession("retrievesession", strSession));
}

} // namespace DaemonTest
