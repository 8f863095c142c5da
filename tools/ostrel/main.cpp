// ostrel: log in to the Ostrel service, test what a session holds, and keep
// the client settings; built on the C interface and the settings library.

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Arguments.h"
#include "OstrelCData/OstrelFactory.h"
#include "OstrelClientConfig/Settings.h"
#include "OstrelData/Exception.h"
#include "Password.h"
#include "SessionFile.h"

using OstrelClientConfig::Settings;
using namespace ostreltool;

namespace {

// Exit statuses; "check" uses the first two for its answer.
constexpr int nExitOk = 0;
constexpr int nExitNotHeld = 1;
constexpr int nExitUsage = 2;
constexpr int nExitFailure = 3;

// A failure to be told to the user as it is, exit status 3.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The settings files named on the command line (or the usual ones), loaded
// on first use.
class SettingsFiles {
public:
    explicit SettingsFiles(const Arguments& args)
    {
        const Settings defaults;
        _strHKLM = args.value("system-config", defaults.hklmPath());
        _strHKCU = args.value("user-config", defaults.hkcuPath());
    }

    // The loaded settings, or null (error() says why).
    Settings* tryLoad(bool bAdmin)
    {
        if (_psettings && _bAdmin == bAdmin)
            return _psettings.get();
        _psettings = std::make_unique<Settings>(_strHKLM, _strHKCU);
        _bAdmin = bAdmin;
        try {
            _psettings->load(bAdmin);
            _strError.clear();
        } catch (const OstrelData::Exception& e) {
            _strError = e.legend();
            _psettings.reset();
        }
        return _psettings.get();
    }
    Settings& load(bool bAdmin)
    {
        if (Settings* p = tryLoad(bAdmin))
            return *p;
        throw Failure("cannot use the settings: " + _strError);
    }
    const std::string& error() const { return _strError; }

private:
    std::string _strHKLM;
    std::string _strHKCU;
    std::unique_ptr<Settings> _psettings;
    bool _bAdmin = false;
    std::string _strError;
};

// TLS trust given on the command line goes before that of the machine-wide file, field by field:
// a client certificate alone keeps the machine's CA or pin, a CA file given replaces the pin (and
// a pin given, the CA), so that no option quietly widens whom the command trusts.
void applyTlsOptions(const Arguments& args, const Settings* psettings)
{
    if (!args.has("tls-ca") && !args.has("tls-pin") && !args.has("tls-cert")) {
        if (args.has("tls-key")) throw UsageError("--tls-key goes with --tls-cert");
        return;
    }
    std::string strCA, strPin, strCert, strKey;
    if (psettings) {
        strCA = psettings->tlsCAFile();
        strPin = psettings->tlsPin();
        strCert = psettings->tlsCertFile();
        strKey = psettings->tlsKeyFile();
    }
    if (args.has("tls-ca")) {
        strCA = args.value("tls-ca");
        if (!args.has("tls-pin")) strPin.clear();
    }
    if (args.has("tls-pin")) {
        strPin = args.value("tls-pin");
        if (!args.has("tls-ca")) strCA.clear();
    }
    if (args.has("tls-cert")) {
        strCert = args.value("tls-cert");
        strKey = args.value("tls-key");
    }
    if (ostrel_tls(strCA.c_str(), strPin.c_str(), strCert.c_str(), strKey.c_str()) != 0)
        throw UsageError("bad TLS options");
}

std::string serviceHost(const Arguments& args, SettingsFiles& files)
{
    Settings* psettings = files.tryLoad(false);
    applyTlsOptions(args, psettings);
    if (args.has("service")) {
        if (args.value("service").empty())
            throw UsageError("--service needs a host");
        return args.value("service");
    }
    if (psettings && !psettings->ostrelLocal().empty())
        return psettings->ostrelLocal();
    std::string strWhy = "no service host: give --service HOST, or set one with 'ostrel config --set-service HOST'";
    if (!psettings)
        strWhy += " (the settings could not be read: " + files.error() + ")";
    throw Failure(strWhy);
}

void connect(const std::string& strHost)
{
    const int nCode = ostrel_init(strHost.c_str());
    if (nCode != 0)
        throw Failure("cannot reach the service at " + strHost + " (error " + std::to_string(nCode) + ")" +
                      (strHost.compare(0, 4, "tls:") == 0 ? "; is ostreld running there, and trusted (see above)?"
                                                          : "; is ostreld running?"));
}

// A session id a command acts on, and how it was given (for messages, which never show the id).
struct GivenSession {
    std::string strId;
    std::string strFrom;
    std::string strFile;  // the session file it was read from, else empty
};

// --session, else the first line of standard input, else OSTREL_SESSION, else the file login wrote:
// all but the first keep the id off the command line, where every local user can read it.
GivenSession givenSession(const Arguments& args)
{
    if (args.has("session")) {
        if (args.value("session").empty())
            throw UsageError("--session needs a session id");
        return {args.value("session"), "--session", ""};
    }
    if (args.has("session-stdin")) {
        try {
            return {readSessionLine(STDIN_FILENO), "standard input", ""};
        } catch (const std::runtime_error& e) {
            throw Failure(std::string("standard input: ") + e.what());
        }
    }
    const char* pszEnvironment = std::getenv("OSTREL_SESSION");
    if (pszEnvironment && *pszEnvironment)
        return {pszEnvironment, "OSTREL_SESSION", ""};
    const std::string strPath = sessionFilePath();
    std::string strId;
    if (!loadSession(strPath, strId))
        throw UsageError("no session: log in with 'ostrel login' first, or give one with --session-stdin or "
                         "OSTREL_SESSION");
    return {strId, "session file " + strPath, strPath};
}

// The user of a session the service keeps.
USER sessionUser(const GivenSession& session)
{
    USER user = ostrel_retrieveSession(session.strId.c_str());
    if (!user)
        throw Failure("the service does not know the session of " + session.strFrom +
                      " (ended, timed out or never kept); log in again");
    return user;
}

std::string textOf(int (*accessor)(char*, int, USER), USER user, const char* pszWhat)
{
    char szBuffer[4096];
    if (accessor(szBuffer, sizeof szBuffer, user) < 0)
        throw Failure(std::string("cannot read the ") + pszWhat + " of the user");
    return szBuffer;
}

// --- Commands --------------------------------------------------------------

int runLogin(const Arguments& args)
{
    SettingsFiles files(args);
    const std::vector<std::string>& wordS = args.positionals();
    if (wordS.size() > 1)
        throw UsageError("login takes one DOMAIN/USER at most");
    const std::string strTarget = wordS.empty() ? std::string() : wordS[0];
    const bool bText = strTarget.find_first_of("/\\@") != std::string::npos;

    Settings* psettings = files.tryLoad(false);
    std::string strDomain, strUserId, strShown;
    if (bText) {
        strShown = strTarget;
    } else {
        strUserId = !strTarget.empty() ? strTarget : (psettings ? psettings->userId() : std::string());
        strDomain = psettings ? psettings->defaultDomain() : std::string();
        if (strUserId.empty() || strDomain.empty()) {
            std::string strWhy = "give DOMAIN/USER, or set a default domain and user id with 'ostrel config'";
            if (!psettings)
                strWhy += " (the settings could not be read: " + files.error() + ")";
            throw UsageError(strWhy);
        }
        strShown = strDomain + "/" + strUserId;
    }
    const std::string strProfile =
        args.value("profile", psettings ? psettings->defaultProfile() : std::string());
    const std::string strHost = serviceHost(args, files);
    connect(strHost);

    Secret password;
    std::string strError;
    const bool bRead = args.has("password-stdin")
                           ? readPasswordLine(STDIN_FILENO, password, strError)
                           : readPasswordFromTerminal("Password for " + strShown + ": ", password, strError);
    if (!bRead)
        throw Failure(strError);

    USER user = bText ? ostrel_authenticate(strTarget.c_str(), password.c_str(), strProfile.c_str())
                      : ostrel_authenticateD(strDomain.c_str(), strUserId.c_str(), password.c_str(),
                                             strProfile.c_str());
    if (!user)
        throw Failure("login failed for " + strShown + " (wrong user or password, or unknown domain)");
    if (ostrel_persistSession(user) != 0)
        throw Failure("logged in, but the service would not keep the session");
    const std::string strSession = textOf(ostrel_session, user, "session id");
    const bool bQuiet = args.has("quiet");
    try {
        saveSession(sessionFilePath(), strSession);
    } catch (const std::runtime_error& e) {
        // Quiet, the file was the only place the id went: a session nobody holds is ended at once.
        if (bQuiet) {
            ostrel_killSession(strSession.c_str());
            throw Failure(std::string("logged in, but cannot keep the session: ") + e.what());
        }
        std::cerr << "ostrel: warning: the session is not kept for the other commands: " << e.what() << "\n";
    }
    if (!bQuiet)
        std::cout << strSession << "\n";
    return nExitOk;
}

int runWhoami(const Arguments& args)
{
    SettingsFiles files(args);
    const GivenSession session = givenSession(args);
    connect(serviceHost(args, files));
    USER user = sessionUser(session);
    std::cout << "user:     " << textOf(ostrel_domain, user, "domain") << "/"
              << textOf(ostrel_userId, user, "user id") << "\n"
              << "name:     " << textOf(ostrel_userName, user, "name") << "\n"
              << "contact:  " << textOf(ostrel_userContact, user, "contact") << "\n"
              << "customer: " << textOf(ostrel_customer, user, "customer") << "\n"
              << "session:  " << textOf(ostrel_session, user, "session id") << "\n";
    return nExitOk;
}

int runCheck(const Arguments& args)
{
    SettingsFiles files(args);
    const int nAsked = args.has("team") + args.has("role") + args.has("permission");
    if (nAsked != 1)
        throw UsageError("give exactly one of --team, --role and --permission");
    int nTeam = 0;
    std::pair<int, int> pair(0, 0);
    if (args.has("team"))
        nTeam = parseNumber(args.value("team"), "--team");
    else if (args.has("role"))
        pair = parsePair(args.value("role"), "--role");
    else
        pair = parsePair(args.value("permission"), "--permission");

    const GivenSession session = givenSession(args);
    connect(serviceHost(args, files));
    USER user = sessionUser(session);
    const int nHeld = args.has("team")   ? ostrel_isMemberOf(nTeam, user)
                      : args.has("role") ? ostrel_hasRole(pair.first, pair.second, user)
                                         : ostrel_hasPermission(pair.first, pair.second, user);
    std::cout << (nHeld ? "held" : "not held") << "\n";
    return nHeld ? nExitOk : nExitNotHeld;
}

int killSession(const Arguments& args)
{
    SettingsFiles files(args);
    const GivenSession session = givenSession(args);
    connect(serviceHost(args, files));
    // The service ends a session only for a connection logged in as its user (or an administrator
    // of users): resuming it is that login.
    sessionUser(session);
    const int nCode = ostrel_killSession(session.strId.c_str());
    if (nCode != 0)
        throw Failure("could not end the session of " + session.strFrom + " (error " + std::to_string(nCode) + ")");
    // An ended session left in the file would only make the next command fail.
    std::string strPath = session.strFile, strKept;
    if (strPath.empty()) {
        try {
            strPath = sessionFilePath();
            if (!loadSession(strPath, strKept) || strKept != session.strId)
                strPath.clear();
        } catch (const std::runtime_error&) {
            strPath.clear();  // a file that cannot be read holds no session of ours to forget
        }
    }
    if (!strPath.empty())
        removeSession(strPath);
    return nExitOk;
}

int runSession(const Arguments& args)
{
    const std::vector<std::string>& wordS = args.positionals();
    if (wordS.size() != 1)
        throw UsageError("say what to do with the session: persist, retrieve or kill");
    const std::string& strAction = wordS[0];
    if (strAction == "kill")
        return killSession(args);
    if (strAction != "persist" && strAction != "retrieve")
        throw UsageError("unknown session action '" + strAction + "'");

    SettingsFiles files(args);
    const GivenSession session = givenSession(args);
    connect(serviceHost(args, files));
    USER user = sessionUser(session);
    if (strAction == "persist" && ostrel_persistSession(user) != 0)
        throw Failure("the service would not keep the session of " + session.strFrom);
    std::cout << textOf(ostrel_session, user, "session id") << "\t" << textOf(ostrel_domain, user, "domain") << "/"
              << textOf(ostrel_userId, user, "user id") << "\n";
    return nExitOk;
}

std::string joinedNames(const Settings::DomainMap& domainS)
{
    std::string str;
    for (const auto& entry : domainS)
        str += (str.empty() ? "" : " ") + entry.first;
    return str;
}

std::string joinedNames(const Settings::ProfileMap& profileS)
{
    std::string str;
    for (const auto& entry : profileS)
        str += (str.empty() ? "" : " ") + entry.first;
    return str;
}

int runConfig(const Arguments& args)
{
    SettingsFiles files(args);
    static const char* const apszSetters[] = {"set-service", "set-master", "set-domain", "set-profile", "set-user",
                                              "set-tls-ca", "set-tls-pin"};
    bool bChanging = false;
    for (const char* pszName : apszSetters) {
        if (args.has(pszName)) {
            bChanging = true;
            if (args.value(pszName).empty())
                throw UsageError(std::string("--") + pszName + " needs a value");
        }
    }
    if (!args.positionals().empty())
        throw UsageError("config takes options only");

    // Hosts live in the machine-wide file, which only an administrator writes.
    const bool bAdmin = args.has("set-service") || args.has("set-master") || args.has("set-tls-ca") ||
                        args.has("set-tls-pin");
    Settings& settings = files.load(bAdmin);
    // Each setting is written as it is set: the one whose form can be refused goes first, so that a
    // refused command leaves the files as they were.
    if (args.has("set-tls-pin"))
        settings.setTlsPin(args.value("set-tls-pin"));
    if (args.has("set-service"))
        settings.setOstrelLocal(args.value("set-service"));
    if (args.has("set-master"))
        settings.setOstrelMaster(args.value("set-master"));
    if (args.has("set-tls-ca"))
        settings.setTlsCAFile(args.value("set-tls-ca"));
    if (args.has("set-domain"))
        settings.setDefaultDomain(Settings::Domain(args.value("set-domain")));
    if (args.has("set-profile"))
        settings.setDefaultProfile(Settings::Profile(args.value("set-profile")));
    if (args.has("set-user"))
        settings.setUserId(args.value("set-user"));
    if (bChanging)
        settings.load(bAdmin);  // the hosts read back only on a new load

    std::cout << "service host:    " << settings.ostrelLocal() << "\n"
              << "master host:     " << settings.ostrelMaster() << "\n"
              << "TLS CA file:     " << settings.tlsCAFile() << "\n"
              << "TLS pin:         " << settings.tlsPin() << "\n"
              << "default domain:  " << settings.defaultDomain() << "\n"
              << "default profile: " << settings.defaultProfile() << "\n"
              << "user id:         " << settings.userId() << "\n"
              << "known domains:   " << joinedNames(settings.domains()) << "\n"
              << "known profiles:  " << joinedNames(settings.profiles()) << "\n"
              << "machine file:    " << settings.hklmPath() << "\n"
              << "user file:       " << settings.hkcuPath() << "\n";
    return nExitOk;
}

// --- The command table -------------------------------------------------------

struct Command {
    const char* pszName;
    const char* pszSynopsis;
    const char* pszHelp;
    std::vector<OptionSpec> optionS;
    int (*run)(const Arguments& args);
    bool bActsOnSession;  // takes the session as givenSession finds it
};

const char* const pszSessionHelp =
    "The session is the one of --session ID, else the first line of standard input\n"
    "with --session-stdin, else the one in OSTREL_SESSION, else the one login kept in\n"
    "$XDG_RUNTIME_DIR/ostrel/session (or $HOME/.ostrel-session). An id on the command\n"
    "line can be read by every user of the machine: prefer the others.\n";

const std::vector<Command>& commands()
{
    static const std::vector<Command> s_commandS = {
        {"login", "login [DOMAIN/USER] [--profile NAME] [--password-stdin] [--quiet]",
         "Logs in and prints the session id (not with --quiet); the service keeps the\n"
         "session, and the id is kept in $XDG_RUNTIME_DIR/ostrel/session (or\n"
         "$HOME/.ostrel-session), readable by the user alone, for the other commands.\n"
         "Without DOMAIN/USER (or \"USER@DOMAIN\"), the default domain and user id of the\n"
         "settings are used; a bare USER takes the default domain. The password is read\n"
         "from the terminal without echo, or as the first line of standard input with\n"
         "--password-stdin.\n",
         {{"profile", true}, {"password-stdin", false}, {"quiet", false}}, runLogin, false},
        {"whoami", "whoami [--session ID | --session-stdin]", "Shows the user of a session.\n",
         {{"session", true}, {"session-stdin", false}}, runWhoami, true},
        {"check",
         "check [--session ID | --session-stdin] (--team N | --role PRODUCT:ROLE | --permission "
         "PRODUCT:PERMISSION)",
         "Tests whether the user of a session belongs to the team or holds the role or\n"
         "permission. Exit status 0 when held, 1 when not, 2 or more on errors.\n",
         {{"session", true}, {"session-stdin", false}, {"team", true}, {"role", true}, {"permission", true}},
         runCheck, true},
        {"session", "session persist|retrieve|kill [--session ID | --session-stdin]",
         "persist: has the service keep the session again; retrieve: shows its id and\n"
         "user; kill: ends it (and forgets the kept id when it was that session).\n",
         {{"session", true}, {"session-stdin", false}}, runSession, true},
        {"logout", "logout [--session ID | --session-stdin]",
         "Ends the session (as 'session kill'), and forgets the kept id when it was that\n"
         "session.\n",
         {{"session", true}, {"session-stdin", false}}, killSession, true},
        {"config",
         "config [--set-service HOST] [--set-master HOST] [--set-tls-ca FILE] [--set-tls-pin PIN] "
         "[--set-domain DOMAIN] [--set-profile NAME] [--set-user ID]",
         "Shows the settings, after making the changes asked for. The service hosts and\n"
         "the TLS trust are machine-wide (only an administrator may set them); the rest\n"
         "is per user.\n",
         {{"set-service", true}, {"set-master", true}, {"set-tls-ca", true}, {"set-tls-pin", true},
          {"set-domain", true}, {"set-profile", true}, {"set-user", true}},
         runConfig, false},
    };
    return s_commandS;
}

const std::vector<OptionSpec> g_globalOptionS = {
    {"service", true}, {"system-config", true}, {"user-config", true}, {"tls-ca", true}, {"tls-pin", true},
    {"tls-cert", true}, {"tls-key", true}, {"help", false}};

const char* const pszGlobalHelp =
    "Options of every command:\n"
    "  --service HOST        the service to use, instead of the one in the settings\n"
    "                        (\"host\", \"host:port\", \"tls:host:port\" or \"unix:/path\")\n"
    "  --tls-ca FILE         trust the CAs of this PEM file for a tls: service (default:\n"
    "                        the machine-wide setting, else the system's CA store)\n"
    "  --tls-pin PIN         trust the service whose public key has this SHA-256\n"
    "  --tls-cert FILE, --tls-key FILE  a client certificate, for services that ask\n"
    "  --system-config PATH  the machine-wide settings file (default /etc/ostreld/rcostrel)\n"
    "  --user-config PATH    the per-user settings file (default $HOME/.rcostrel)\n"
    "  --help                this help, or the command's\n"
    "Exit status: 0 success, 1 not held (check), 2 bad command line, 3 failure.\n";

void printUsage(std::ostream& os)
{
    os << "usage: ostrel [OPTIONS] COMMAND [ARGS]\n\nCommands:\n";
    for (const Command& command : commands())
        os << "  ostrel " << command.pszSynopsis << "\n";
    os << "\n" << pszGlobalHelp << "Use 'ostrel COMMAND --help' for one command.\n";
}

void printCommandHelp(const Command& command, std::ostream& os)
{
    os << "usage: ostrel " << command.pszSynopsis << "\n\n"
       << command.pszHelp << (command.bActsOnSession ? pszSessionHelp : "") << "\n"
       << pszGlobalHelp;
}

const Command* findCommand(const std::string& strName)
{
    for (const Command& command : commands()) {
        if (strName == command.pszName)
            return &command;
    }
    return nullptr;
}

int run(const std::vector<std::string>& wordS)
{
    // The command is the first word that is neither an option nor its value.
    const Command* pcommand = nullptr;
    std::vector<std::string> restS;
    bool bHelp = false;
    for (size_t i = 0; i < wordS.size(); ++i) {
        const std::string& strWord = wordS[i];
        if (pcommand) {
            restS.push_back(strWord);
        } else if (strWord == "--help" || strWord == "-h" || strWord == "help") {
            bHelp = true;
        } else if (strWord.compare(0, 2, "--") == 0) {
            restS.push_back(strWord);
            bool bValueFollows = false;
            for (const OptionSpec& spec : g_globalOptionS)
                bValueFollows = bValueFollows || (spec.bTakesValue && strWord == std::string("--") + spec.pszName);
            if (bValueFollows && i + 1 < wordS.size())
                restS.push_back(wordS[++i]);
        } else if (!(pcommand = findCommand(strWord))) {
            throw UsageError("unknown command '" + strWord + "'");
        }
    }
    if (!pcommand) {
        if (!bHelp)
            throw UsageError("no command given");
        printUsage(std::cout);
        return nExitOk;
    }
    std::vector<OptionSpec> optionS = g_globalOptionS;
    optionS.insert(optionS.end(), pcommand->optionS.begin(), pcommand->optionS.end());
    const Arguments args(restS, optionS);
    if (bHelp || args.has("help")) {
        printCommandHelp(*pcommand, std::cout);
        return nExitOk;
    }
    return pcommand->run(args);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> wordS(argv + 1, argv + argc);
    try {
        return run(wordS);
    } catch (const UsageError& e) {
        std::cerr << "ostrel: " << e.what() << "\n";
        std::cerr << "Try 'ostrel --help'.\n";
        return nExitUsage;
    } catch (const Failure& e) {
        std::cerr << "ostrel: " << e.what() << "\n";
        return nExitFailure;
    } catch (const OstrelData::Exception& e) {
        std::cerr << "ostrel: " << e.legend() << " (error " << e.errorCode() << ")\n";
        return nExitFailure;
    } catch (const std::exception& e) {
        std::cerr << "ostrel: " << e.what() << "\n";
        return nExitFailure;
    }
}
