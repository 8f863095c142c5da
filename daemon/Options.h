#ifndef OSTRELD_OPTIONS_H
#define OSTRELD_OPTIONS_H

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Corvel/DaemonServer.h"
#include "Corvel/EventLogger.h"
#include "OstrelData/OstrelData.h"

namespace Ostreld {

// A bad command line or configuration file; the text says what, and for a line of the file where
// ("FILE:LINE: ").
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the configuration file is looked for when --config names none; a missing one is no error.
constexpr const char* pszDefaultConfigFile = "/etc/ostrel/ostreld.conf";
// The bounds of the file: it is the operator's, but a wrong path (a log, a device) must not make
// the daemon read without end.
constexpr size_t nMaxConfigFileBytes = 1024 * 1024;
constexpr size_t nMaxConfigLineBytes = 4096;

// What the command line and the configuration file set, the defaults for the rest.
struct Options {
    std::optional<std::string> connect;
    std::optional<std::string> connectFile;
    std::string strConnect;  // the one chosen from the two above, OSTREL_CONNECT and the default (main)
    std::vector<std::string> listenS;
    OstrelData::Factory::Mode mode = OstrelData::Factory::modeAuthenticator;
    int nKeyBits = 2048;
    bool bTraceSql = false;
    Corvel::EventLogger::Level logLevel = Corvel::EventLogger::levelInfo;
    long nMaxConnections = 256;
    long nIdleSeconds = 300;
    long nAnonymousSeconds = 60;
    long nMaxPerPeer = 64;
    long nMaxRequest = 1024 * 1024;
    long nSessionSeconds = 1800;
    long nSessionLifetimeSeconds = 12 * 3600;
    bool bSessionsInDatabase = true;
    long nReloadSeconds = 5;
    long nFailureDelayMs = 5000;
    long nCleanupSeconds = 60;
    long nAuthWorkers = 0;  // 0: one per core
    long nMaxElements = 100000;
    long nParseBudget = 400000;
    std::string strAddressFile;
    int nSocketMode = 0660;
    std::string strSocketGroup;
    std::string strMetrics;  // where /metrics and /healthz are served; empty: nowhere
    Corvel::DaemonServerTls tls;
    bool bAllowPlaintextLogins = false;
    // Of the command line only.
    std::string strConfigFile = pszDefaultConfigFile;
    bool bConfigFileNamed = false;  // by --config: then it must exist
    bool bConfigFileFound = false;  // it was there and read
    bool bCheckConfig = false;
    bool bHelp = false;
    bool bVersion = false;
    // The values in force of every option given, by name, as written (the command line's, else
    // the file's): what a re-read of the file compares.
    std::map<std::string, std::vector<std::string>> givenS;
};

// One option of the daemon, as both the command line ("--name VALUE", "--name=VALUE", "--flag")
// and the configuration file ("name = value") give it. Every option is one entry of one table
// (optionSpecs()), which both sources go through: an option added there works in both.
struct OptionSpec {
    enum Kind {
        kindValue,     // one value; the last one given counts
        kindFlag,      // bare on the command line; yes|no|true|false|1|0 in the file (or after "=")
        kindRepeated,  // each value given adds one; the command line's list replaces the file's
    };
    enum Change {
        changeAtReload,   // SIGHUP applies a new value from the file
        changeAtRestart,  // SIGHUP warns that a new value waits for a restart
        commandLineOnly,  // refused in the file
    };
    const char* pszName;  // without "--"
    Kind kind;
    Change change;
    // Sets the value into options; throws OptionError with the reason, worded to follow the
    // option's name ("takes a whole number from 1 to 10, not 'x'").
    void (*pfnApply)(Options& options, const std::string& strValue);
    // Options that stand for one another (connect and connect-file): any of them on the command
    // line overrides all of them in the file. Null when alone.
    const char* pszGroup = nullptr;
};

// The table; its order is that of --help.
const std::vector<OptionSpec>& optionSpecs();
// The entry of the name (without "--"), or null.
const OptionSpec* findOptionSpec(const std::string& strName);

// One value given for an option, and where: "" on the command line, "FILE:LINE" in the file.
struct OptionSetting {
    const OptionSpec* pspec = nullptr;
    std::string strValue;
    std::string strWhere;
};

// The settings of a command line (the arguments after the program's name); throws OptionError.
std::vector<OptionSetting> commandLineSettings(const std::vector<std::string>& argS);
// The settings of a configuration file: "name = value" lines, "#" comment lines and blank lines.
// A missing file gives none unless bRequired. Throws OptionError: "FILE:LINE: reason" for a bad
// line (unknown name, missing value, an option of the command line only, a value given twice),
// "FILE: reason" when the file cannot be read, is not a regular file, is too large, may be written
// by its group or others, or may be read by others while its connect holds a password. Values are
// not checked here.
// *pbFound, when given, tells whether the file was there.
std::vector<OptionSetting> configFileSettings(const std::string& strPath, bool bRequired, bool* pbFound = nullptr);
// The options of both, the command line's over the file's; every value checked, the file's ones
// that the command line overrides included. Throws OptionError.
Options resolveOptions(const std::vector<OptionSetting>& fileS, const std::vector<OptionSetting>& commandLineS);
// The options of a command line and of the configuration file it names (or the default one); the
// file is not read for --help or --version. Throws OptionError.
Options readOptions(const std::vector<std::string>& argS);

// The options of the given change class whose values differ between two reads, in table order.
std::vector<std::string> changedOptions(const Options& before, const Options& after, OptionSpec::Change change);

} // namespace Ostreld

#endif
