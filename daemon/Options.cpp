#include "Options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include "Metrics.h"
#include "VeskDal/DalDatabase.h"

namespace Ostreld {

namespace {

using Factory = OstrelData::Factory;
using Logger = Corvel::EventLogger;

// A value as it may appear in a message: cut short, so that a stray binary line stays readable.
std::string quoted(const std::string& strValue)
{
    std::string strShown;
    for (char c : strValue.substr(0, 80))
        strShown += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return "'" + strShown + (strValue.size() > 80 ? "...'" : "'");
}

long number(const std::string& strValue, long nMin, long nMax)
{
    char* pszEnd = nullptr;
    errno = 0;
    long n = std::strtol(strValue.c_str(), &pszEnd, 10);
    if (strValue.empty() || *pszEnd != '\0' || errno == ERANGE || n < nMin || n > nMax)
        throw OptionError("takes a whole number from " + std::to_string(nMin) + " to " + std::to_string(nMax) +
                          ", not " + quoted(strValue));
    return n;
}

bool flag(const std::string& strValue)
{
    if (strValue == "yes" || strValue == "true" || strValue == "1") return true;
    if (strValue == "no" || strValue == "false" || strValue == "0") return false;
    throw OptionError("takes yes, no, true, false, 1 or 0, not " + quoted(strValue));
}

// One of the words, in order, to the value it stands for.
template <class T>
T choice(const std::string& strValue, std::initializer_list<std::pair<const char*, T>> choiceS)
{
    std::string strWords;
    size_t i = 0;
    for (const auto& entry : choiceS) {
        if (strValue == entry.first) return entry.second;
        strWords += (i == 0 ? "" : (i + 1 == choiceS.size() ? " or " : ", ")) + std::string(entry.first);
        ++i;
    }
    throw OptionError("takes " + strWords + ", not " + quoted(strValue));
}

using K = OptionSpec;

const std::vector<OptionSpec> g_specS = {
    {"config", K::kindValue, K::commandLineOnly,
     [](Options& o, const std::string& s) {
         if (s.empty()) throw OptionError("needs a file name");
         o.strConfigFile = s;
         o.bConfigFileNamed = true;
     }},
    {"check-config", K::kindFlag, K::commandLineOnly, [](Options& o, const std::string& s) { o.bCheckConfig = flag(s); }},
    {"connect", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) { o.connect = s; }, "connect"},
    {"connect-file", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) { o.connectFile = s; },
     "connect"},
    {"listen", K::kindRepeated, K::changeAtRestart, [](Options& o, const std::string& s) {
         if (s.empty()) throw OptionError("needs an address");
         o.listenS.push_back(s);
     }},
    {"tls-cert", K::kindValue, K::changeAtReload, [](Options& o, const std::string& s) { o.tls.strCertFile = s; }},
    {"tls-key", K::kindValue, K::changeAtReload, [](Options& o, const std::string& s) { o.tls.strKeyFile = s; }},
    {"tls-client-ca", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.tls.strClientCAFile = s; }},
    {"tls-ciphers", K::kindValue, K::changeAtReload, [](Options& o, const std::string& s) { o.tls.strCiphers = s; }},
    {"tls-min-version", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.tls.strMinVersion = choice<std::string>(s, {{"1.2", "1.2"}, {"1.3", "1.3"}}); }},
    {"allow-plaintext-logins", K::kindFlag, K::changeAtRestart,
     [](Options& o, const std::string& s) { o.bAllowPlaintextLogins = flag(s); }},
    {"mode", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) {
         o.mode = choice<Factory::Mode>(s, {{"authenticator", Factory::modeAuthenticator},
                                            {"all", Factory::modeAll},
                                            {"admin", Factory::modeAdmin},
                                            {"simple", Factory::modeSimple},
                                            {"signoff", Factory::modeSignoff}});
     }},
    // Below 2048 bits the protocol's RSA step no longer protects a password.
    {"key-bits", K::kindValue, K::changeAtRestart,
     [](Options& o, const std::string& s) { o.nKeyBits = static_cast<int>(number(s, 2048, 16384)); }},
    {"trace-sql", K::kindFlag, K::changeAtReload, [](Options& o, const std::string& s) { o.bTraceSql = flag(s); }},
    {"log-level", K::kindValue, K::changeAtReload, [](Options& o, const std::string& s) {
         o.logLevel = choice<Logger::Level>(s, {{"error", Logger::levelError},
                                                {"warning", Logger::levelWarning},
                                                {"info", Logger::levelInfo},
                                                {"debug", Logger::levelDebug}});
     }},
    {"max-connections", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nMaxConnections = number(s, 1, 100000); }},
    {"idle-timeout", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nIdleSeconds = number(s, 1, 86400 * 7); }},
    {"anonymous-timeout", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nAnonymousSeconds = number(s, 1, 86400); }},
    {"max-per-peer", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nMaxPerPeer = number(s, 1, 100000); }},
    {"max-request", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nMaxRequest = number(s, 1024, 16L * 1024 * 1024); }},
    {"session-timeout", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nSessionSeconds = number(s, 1, INT_MAX); }},
    {"session-lifetime", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nSessionLifetimeSeconds = number(s, 1, 86400L * 366); }},
    {"sessions", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) {
         o.bSessionsInDatabase = choice<bool>(s, {{"database", true}, {"memory", false}});
     }},
    {"reload-interval", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nReloadSeconds = number(s, 0, 86400); }},
    {"cleanup-interval", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nCleanupSeconds = number(s, 1, 86400); }},
    {"auth-workers", K::kindValue, K::changeAtRestart,
     [](Options& o, const std::string& s) { o.nAuthWorkers = number(s, 1, 1024); }},
    {"failure-delay", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nFailureDelayMs = number(s, 0, 600000); }},
    {"max-elements", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nMaxElements = number(s, 100, 100000000); }},
    {"parse-budget", K::kindValue, K::changeAtReload,
     [](Options& o, const std::string& s) { o.nParseBudget = number(s, 100, 1000000000); }},
    {"address-file", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) { o.strAddressFile = s; }},
    {"socket-mode", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) {
         char* pszEnd = nullptr;
         long nMode = std::strtol(s.c_str(), &pszEnd, 8);
         if (s.empty() || *pszEnd != '\0' || nMode < 0 || nMode > 0777)
             throw OptionError("takes an octal mode such as 0660, not " + quoted(s));
         o.nSocketMode = static_cast<int>(nMode);
     }},
    {"socket-group", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) { o.strSocketGroup = s; }},
    {"metrics", K::kindValue, K::changeAtRestart, [](Options& o, const std::string& s) {
         std::string strHost;
         int nPort = 0;
         if (!MetricsListener::parseAddress(s, strHost, nPort))
             throw OptionError("takes host:port, [v6addr]:port or port, not " + quoted(s));
         o.strMetrics = s;
     }},
    {"help", K::kindFlag, K::commandLineOnly, [](Options& o, const std::string& s) { o.bHelp = flag(s); }},
    {"version", K::kindFlag, K::commandLineOnly, [](Options& o, const std::string& s) { o.bVersion = flag(s); }},
};

// The option's name as its source writes it, before a reason.
std::string shownName(const OptionSetting& setting)
{
    return setting.strWhere.empty() ? "--" + std::string(setting.pspec->pszName)
                                    : setting.strWhere + ": " + setting.pspec->pszName;
}

void apply(Options& options, const OptionSetting& setting)
{
    try {
        setting.pspec->pfnApply(options, setting.strValue);
    } catch (const OptionError& e) {
        throw OptionError(shownName(setting) + " " + e.what());
    }
}

void record(Options& options, const OptionSetting& setting)
{
    std::vector<std::string>& valueS = options.givenS[setting.pspec->pszName];
    // A flag's words differ; what it says does not (a re-read file must not see a change in "yes"
    // becoming "true").
    const std::string strValue =
        setting.pspec->kind == K::kindFlag ? (flag(setting.strValue) ? "yes" : "no") : setting.strValue;
    if (setting.pspec->kind != K::kindRepeated) valueS.clear();
    valueS.push_back(strValue);
}

std::string trimmed(const std::string& str)
{
    const char* pszBlank = " \t";
    std::string::size_type nStart = str.find_first_not_of(pszBlank);
    if (nStart == std::string::npos) return std::string();
    return str.substr(nStart, str.find_last_not_of(pszBlank) - nStart + 1);
}

// The whole file, at most nMaxConfigFileBytes, and its mode; false when it does not exist. What
// is checked is the file opened, not the path (fstat), so that nothing can be swapped in between.
bool readBounded(const std::string& strPath, std::string& strText, mode_t& nMode)
{
    // O_NONBLOCK: a FIFO at the path is refused below instead of hanging the start, or the signal
    // thread on SIGHUP.
    int fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        throw OptionError(strPath + ": cannot read: " + std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) throw OptionError(strPath + ": cannot read: " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw OptionError(strPath + ": is a folder, not a file");
    if (!S_ISREG(st.st_mode)) throw OptionError(strPath + ": not a regular file");
    // It chooses the database, and with it the shared objects the daemon loads.
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        throw OptionError(strPath + ": writable by " + ((st.st_mode & S_IWOTH) ? "others" : "its group") +
                          ": whoever can write it chooses the database, and with it the shared objects "
                          "ostreld loads (chmod 640)");
    nMode = st.st_mode;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw OptionError(strPath + ": cannot read: " + std::strerror(errno));
        if (n == 0) return true;
        if (strText.size() + static_cast<size_t>(n) > nMaxConfigFileBytes)
            throw OptionError(strPath + ": larger than " + std::to_string(nMaxConfigFileBytes) + " bytes");
        strText.append(buffer, static_cast<size_t>(n));
    }
}

// Whether a connect string carries a password. One that does not parse is searched as text: it
// may still hold one, and saying so costs nothing but a refusal that names the fix.
bool holdsPassword(const std::string& strConnect)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    try {
        VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
    } catch (...) {
        std::string strLower = strConnect;
        for (char& c : strLower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return strLower.find("password") != std::string::npos;
    }
    for (const auto& parameter : parameterS) {
        std::string strName = parameter.first;
        for (char& c : strName)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (strName == "password" && !parameter.second.empty()) return true;
    }
    return false;
}

} // namespace

const std::vector<OptionSpec>& optionSpecs()
{
    return g_specS;
}

const OptionSpec* findOptionSpec(const std::string& strName)
{
    for (const OptionSpec& spec : g_specS)
        if (strName == spec.pszName) return &spec;
    return nullptr;
}

std::vector<OptionSetting> commandLineSettings(const std::vector<std::string>& argS)
{
    std::vector<OptionSetting> settingS;
    for (size_t i = 0; i < argS.size(); ++i) {
        const std::string& strArg = argS[i];
        if (strArg == "-h") {
            settingS.push_back({findOptionSpec("help"), "yes", ""});
            continue;
        }
        if (strArg.compare(0, 2, "--") != 0) throw OptionError("unexpected argument " + quoted(strArg));
        std::string strName = strArg.substr(2);
        std::string strValue;
        const std::string::size_type nEquals = strName.find('=');
        if (nEquals != std::string::npos) {
            strValue = strName.substr(nEquals + 1);
            strName.erase(nEquals);
        }
        const OptionSpec* pspec = findOptionSpec(strName);
        if (pspec == nullptr) throw OptionError("unknown option --" + strName);
        if (nEquals == std::string::npos) {
            if (pspec->kind == K::kindFlag) {
                strValue = "yes";
            } else {
                if (i + 1 >= argS.size()) throw OptionError("--" + strName + " needs a value");
                strValue = argS[++i];
            }
        }
        settingS.push_back({pspec, strValue, ""});
    }
    return settingS;
}

std::vector<OptionSetting> configFileSettings(const std::string& strPath, bool bRequired, bool* pbFound)
{
    std::string strText;
    mode_t nMode = 0;
    const bool bFound = readBounded(strPath, strText, nMode);
    if (pbFound) *pbFound = bFound;
    if (!bFound) {
        if (bRequired) throw OptionError(strPath + ": no such file");
        return {};
    }
    std::vector<OptionSetting> settingS;
    std::map<std::string, size_t> lineOfS;  // where each option of one value was given
    size_t nLine = 0;
    std::string::size_type nStart = 0;
    while (nStart < strText.size()) {
        std::string::size_type nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = strText.size();
        std::string strLine = strText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        ++nLine;
        const std::string strWhere = strPath + ":" + std::to_string(nLine);
        if (strLine.size() > nMaxConfigLineBytes)
            throw OptionError(strWhere + ": line longer than " + std::to_string(nMaxConfigLineBytes) + " bytes");
        if (strLine.find('\0') != std::string::npos) throw OptionError(strWhere + ": a NUL byte in the line");
        if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
        strLine = trimmed(strLine);
        if (strLine.empty() || strLine[0] == '#') continue;
        const std::string::size_type nEquals = strLine.find('=');
        if (nEquals == std::string::npos) throw OptionError(strWhere + ": expected NAME = VALUE, not " + quoted(strLine));
        const std::string strName = trimmed(strLine.substr(0, nEquals));
        std::string strValue = trimmed(strLine.substr(nEquals + 1));
        if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"')
            strValue = strValue.substr(1, strValue.size() - 2);
        const OptionSpec* pspec = findOptionSpec(strName);
        if (pspec == nullptr)
            throw OptionError(strWhere + ": unknown option " + quoted(strName) +
                              (strName.compare(0, 2, "--") == 0 ? " (write the name without --)" : ""));
        if (pspec->change == K::commandLineOnly)
            throw OptionError(strWhere + ": " + strName + " is given on the command line only");
        if (strValue.empty())
            throw OptionError(strWhere + ": " + strName + " needs a value (leave the line out for the default)");
        if (pspec->kind != K::kindRepeated) {
            auto itLine = lineOfS.find(strName);
            if (itLine != lineOfS.end())
                throw OptionError(strWhere + ": " + strName + " is set already on line " + std::to_string(itLine->second));
            lineOfS[strName] = nLine;
        }
        // A password here would be every local user's to read (the file is readable by others), also
        // when the command line overrides it.
        if (std::strcmp(pspec->pszName, "connect") == 0 && (nMode & S_IROTH) && holdsPassword(strValue))
            throw OptionError(strPath + ": readable by every local user, and connect holds a password: put the "
                                        "connect string in a connect-file only the daemon's user may read (chmod 600), "
                                        "or make this file chmod 640");
        settingS.push_back({pspec, strValue, strWhere});
    }
    return settingS;
}

Options resolveOptions(const std::vector<OptionSetting>& fileS, const std::vector<OptionSetting>& commandLineS)
{
    // What the command line gives, the file's values of it are checked but not taken.
    std::set<std::string> overriddenS;
    for (const OptionSetting& setting : commandLineS) {
        overriddenS.insert(setting.pspec->pszName);
        if (setting.pspec->pszGroup) overriddenS.insert(std::string("group ") + setting.pspec->pszGroup);
    }
    Options options;
    Options overridden;
    for (const OptionSetting& setting : fileS) {
        const bool bOverridden =
            overriddenS.count(setting.pspec->pszName) != 0 ||
            (setting.pspec->pszGroup && overriddenS.count(std::string("group ") + setting.pspec->pszGroup) != 0);
        apply(bOverridden ? overridden : options, setting);
        if (!bOverridden) record(options, setting);
    }
    for (const OptionSetting& setting : commandLineS) {
        apply(options, setting);
        record(options, setting);
    }

    if (options.connect && options.connectFile) throw OptionError("give connect or connect-file, not both");
    if (options.listenS.empty()) options.listenS.push_back("127.0.0.1:7420");
    bool bTlsListener = false;
    for (const std::string& strListen : options.listenS)
        bTlsListener = bTlsListener || strListen.compare(0, 4, "tls:") == 0;
    if (bTlsListener && options.tls.strCertFile.empty()) throw OptionError("a tls: listener needs tls-cert");
    const Corvel::DaemonServerTls defaults;
    if (!bTlsListener && (!options.tls.strCertFile.empty() || !options.tls.strKeyFile.empty() ||
                          !options.tls.strClientCAFile.empty() || !options.tls.strCiphers.empty() ||
                          options.tls.strMinVersion != defaults.strMinVersion))
        throw OptionError("tls-* options given, but no tls: listener");
    return options;
}

Options readOptions(const std::vector<std::string>& argS)
{
    const std::vector<OptionSetting> commandLineS = commandLineSettings(argS);
    // Which file, and whether to read one at all: --help and --version work whatever it holds.
    Options given;
    for (const OptionSetting& setting : commandLineS)
        if (setting.pspec->change == K::commandLineOnly) apply(given, setting);
    if (given.bHelp || given.bVersion) return given;
    bool bFound = false;
    Options options = resolveOptions(configFileSettings(given.strConfigFile, given.bConfigFileNamed, &bFound), commandLineS);
    options.bConfigFileFound = bFound;
    return options;
}

std::vector<std::string> changedOptions(const Options& before, const Options& after, OptionSpec::Change change)
{
    static const std::vector<std::string> none;
    auto valuesOf = [](const Options& options, const char* pszName) -> const std::vector<std::string>& {
        auto it = options.givenS.find(pszName);
        return it == options.givenS.end() ? none : it->second;
    };
    std::vector<std::string> nameS;
    for (const OptionSpec& spec : g_specS)
        if (spec.change == change && valuesOf(before, spec.pszName) != valuesOf(after, spec.pszName))
            nameS.push_back(spec.pszName);
    return nameS;
}

} // namespace Ostreld
