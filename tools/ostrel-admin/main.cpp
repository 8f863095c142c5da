// ostrel-admin: creates the schema and administers the model in the database, through the
// database-backed factory and the SQL password plug-in.

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Admin.h"
#include "Corvel/EventLogger.h"
#include "OstrelDal/ConnectFile.h"
#include "OstrelDal/OstrelDal.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "VeskDal/SqlException.h"

namespace {

using namespace OstrelAdmin;

constexpr int nExitOk = 0;
constexpr int nExitFailure = 1;
constexpr int nExitUsage = 2;

const OptionSpec g_globalOptions{{"connect", "connect-file", "plugin", "sql-dir"}, {"trace-sql", "help", "version"}};

const char* const pszGlobalHelp =
    "Options of every command:\n"
    "  --connect CONNECT    the database connect string (default: engine=sqlite;database=/var/lib/ostrel/ostrel.db)\n"
    "  --connect-file PATH  the connect string as the first line of a file only its owner may read;\n"
    "                       without either option, the environment's OSTREL_CONNECT when set.\n"
    "                       A password on the command line can be read by every local user.\n"
    "  --trace-sql          print every SQL statement before it runs\n"
    "  --help               this help, or a command's\n"
    "  --version            the version of ostrel-admin\n"
    "Exit status: 0 success, 1 failure, 2 bad command line.\n";

std::vector<Command> allCommands()
{
    std::vector<Command> commandS = schemaCommands();
    for (const auto* ptable : {&organisationCommands(), &catalogueCommands()})
        commandS.insert(commandS.end(), ptable->begin(), ptable->end());
    return commandS;
}

// The folder of the running program.
std::string programDirectory()
{
    char szPath[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", szPath, sizeof szPath - 1);
    if (n <= 0) return ".";
    std::string strPath(szPath, static_cast<size_t>(n));
    std::string::size_type nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
}

// The path without "..", when it exists.
std::string normalised(const std::string& strPath)
{
    char szPath[PATH_MAX];
    return ::realpath(strPath.c_str(), szPath) != nullptr ? std::string(szPath) : strPath;
}

bool isReadable(const std::string& strPath)
{
    return ::access(strPath.c_str(), R_OK) == 0;
}

// An installed tree keeps the plug-ins in lib/ostrel; the build tree has them in lib.
std::string defaultPlugin()
{
    std::string strInstalled = programDirectory() + "/../lib/ostrel/libOstrelAuthSql.so";
    if (isReadable(strInstalled)) return normalised(strInstalled);
    return normalised(programDirectory() + "/../lib/libOstrelAuthSql.so");
}

std::string defaultSqlDir()
{
    std::string strInstalled = programDirectory() + "/../share/ostrel/sql";
    if (isReadable(strInstalled + "/sqlite.sql")) return strInstalled;
#ifdef OSTREL_SQL_DIR
    return OSTREL_SQL_DIR;
#else
    return strInstalled;
#endif
}

void printUsage(std::ostream& os, const std::vector<Command>& commandS, const std::string& strEntity)
{
    os << "usage: ostrel-admin [--connect CONNECT | --connect-file PATH] COMMAND [ARGS] [OPTIONS]\n\nCommands:\n";
    for (const Command& command : commandS)
        if (strEntity.empty() || strEntity == command.pszEntity) os << "  " << command.pszSynopsis << "\n";
    os << "\n" << pszGlobalHelp;
}

void printCommandHelp(std::ostream& os, const Command& command)
{
    os << "usage: ostrel-admin " << command.pszSynopsis << "\n\n" << command.pszHelp << "\n" << pszGlobalHelp;
}

OptionSpec merged(const OptionSpec& a, const OptionSpec& b)
{
    OptionSpec spec = a;
    spec.valuedS.insert(b.valuedS.begin(), b.valuedS.end());
    spec.flagS.insert(b.flagS.begin(), b.flagS.end());
    return spec;
}

int run(int argc, char** argv)
{
    const std::vector<Command> commandS = allCommands();
    std::vector<std::string> argS(argv + 1, argv + argc);

    // Options before the command are the global ones; the command's own may follow it.
    size_t nFirstWord = 0;
    while (nFirstWord < argS.size() && argS[nFirstWord].compare(0, 2, "--") == 0) {
        const std::string strName = argS[nFirstWord].substr(2, argS[nFirstWord].find('=') - 2);
        nFirstWord += g_globalOptions.valuedS.count(strName) && argS[nFirstWord].find('=') == std::string::npos ? 2 : 1;
    }
    nFirstWord = std::min(nFirstWord, argS.size());
    CommandLine globals(std::vector<std::string>(argS.begin(), argS.begin() + static_cast<long>(nFirstWord)),
                        g_globalOptions);
    if (globals.has("version")) {
        std::cout << "ostrel-admin " << OstrelDataDB::Factory::version().text() << "\n";
        return nExitOk;
    }
    if (nFirstWord == argS.size()) {
        printUsage(globals.has("help") ? std::cout : std::cerr, commandS, "");
        return globals.has("help") ? nExitOk : nExitUsage;
    }

    const std::string strEntity = argS[nFirstWord];
    const std::string strVerb = nFirstWord + 1 < argS.size() ? argS[nFirstWord + 1] : std::string();
    const Command* pcommand = nullptr;
    bool bKnownEntity = false;
    for (const Command& command : commandS) {
        if (strEntity != command.pszEntity) continue;
        bKnownEntity = true;
        if (*command.pszVerb == '\0' || strVerb == command.pszVerb) {
            pcommand = &command;
            break;
        }
    }
    if (!bKnownEntity) throw UsageError("unknown command '" + strEntity + "'");
    if (pcommand == nullptr) {
        if (globals.has("help") || strVerb == "--help") {
            printUsage(std::cout, commandS, strEntity);
            return nExitOk;
        }
        std::string strVerbs;
        for (const Command& command : commandS)
            if (strEntity == command.pszEntity) strVerbs += std::string(strVerbs.empty() ? "" : ", ") + command.pszVerb;
        throw UsageError((strVerb.empty() ? "say what to do with " + strEntity
                                          : "unknown command '" + strEntity + " " + strVerb + "'") +
                         " (one of: " + strVerbs + ")");
    }

    const size_t nArgs = nFirstWord + (*pcommand->pszVerb ? 2 : 1);
    Context context;
    context.args = CommandLine(std::vector<std::string>(argS.begin() + static_cast<long>(nArgs), argS.end()),
                               merged(pcommand->options, g_globalOptions));
    if (globals.has("help") || context.args.has("help")) {
        printCommandHelp(std::cout, *pcommand);
        return nExitOk;
    }
    const size_t nWords = context.args.words().size();
    if (nWords < pcommand->nMinWords || nWords > pcommand->nMaxWords)
        throw UsageError(std::string("wrong number of arguments; usage: ostrel-admin ") + pcommand->pszSynopsis);

    auto option = [&](const char* pszName, const std::string& strDefault) {
        return context.args.value(pszName, globals.value(pszName, strDefault));
    };
    // The command's own option goes before the same one given before the command.
    auto given = [&](const char* pszName) -> std::optional<std::string> {
        if (context.args.has(pszName)) return context.args.value(pszName);
        if (globals.has(pszName)) return globals.value(pszName);
        return std::nullopt;
    };
    const std::optional<std::string> connect = given("connect"), connectFile = given("connect-file");
    if (connect && connectFile) throw UsageError("give --connect or --connect-file, not both");
    context.strConnect = OstrelDal::chosenConnectString(connect, connectFile, pszDefaultConnect);
    context.strPlugin = option("plugin", defaultPlugin());
    context.strSqlDir = option("sql-dir", defaultSqlDir());
    context.pout = &std::cout;
    const bool bTrace = globals.has("trace-sql") || context.args.has("trace-sql");
    OstrelDal::setStatementEcho(bTrace ? OstrelDal::echoStdout : OstrelDal::echoOff);

    if (pcommand->load == loadModel) {
        createSqliteFileForOwnerOnly(context.strConnect);
        OstrelDataDB::Factory::initialize(context.strConnect, OstrelData::Factory::modeAuthenticator);
    }
    pcommand->run(context);
    return nExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    Corvel::EventLogger::setLevel(Corvel::EventLogger::levelWarning);
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "ostrel-admin: " << e.what() << " (see ostrel-admin --help)\n";
        return nExitUsage;
    } catch (const Failure& e) {
        std::cerr << "ostrel-admin: " << e.what() << "\n";
    } catch (const OstrelData::Exception& e) {
        std::string strExplanation = OstrelData::Exception::explainErrorCode(e.errorCode());
        std::cerr << "ostrel-admin: " << (strExplanation.empty() ? "" : strExplanation + " ") << e.legend()
                  << " (error " << e.errorCode() << ")\n";
    } catch (const VeskDal::DalDatabaseException& e) {
        std::cerr << "ostrel-admin: database: " << e.nativeExplanation() << "\n";
    } catch (const VeskDal::SqlException& e) {
        std::cerr << "ostrel-admin: SQL: " << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "ostrel-admin: " << e.what() << "\n";
    }
    return nExitFailure;
}
