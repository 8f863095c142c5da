#ifndef OSTREL_TESTS_TESTDATABASES_H
#define OSTREL_TESTS_TESTDATABASES_H

// Databases for suites that run on every engine. SQLite always works (a temporary file); the
// PostgreSQL and MariaDB servers are those the harness (dbservers.sh, ctest fixture DbServers)
// started, found through the connect strings it wrote. Each test takes a ScratchDatabase of its
// own, so tests may run in parallel on one server.
//
//   class MySuite : public ::testing::TestWithParam<std::string> { ... ScratchDatabase _db{GetParam()}; };
//   INSTANTIATE_TEST_SUITE_P(Engines, MySuite, ::testing::ValuesIn(OstrelTest::testEngines()),
//                            OstrelTest::engineTestName);

#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "VeskDal/DalDatabase.h"
#include "VeskDal/DalDynamic.h"

namespace OstrelTest {

// Where the harness writes pg.conn and mysql.conn.
inline std::string dbserversDirectory()
{
#ifdef OSTREL_DBSERVERS_DIR
    return OSTREL_DBSERVERS_DIR;
#else
    const char* psz = std::getenv("OSTREL_DBSERVERS_DIR");
    return psz ? psz : "";
#endif
}

// "sqlite", "postgresql", "mysql"; OSTREL_TEST_ENGINES (comma-separated) narrows the list for a
// quick run by hand. The list does not depend on the servers, so a missing server fails loudly.
inline std::vector<std::string> testEngines()
{
    std::vector<std::string> engineS{"sqlite", "postgresql", "mysql"};
    const char* pszOnly = std::getenv("OSTREL_TEST_ENGINES");
    if (!pszOnly || !*pszOnly) {
        return engineS;
    }
    std::vector<std::string> chosenS;
    std::string strOnly = std::string(",") + pszOnly + ",";
    for (const std::string& strEngine : engineS) {
        if (strOnly.find("," + strEngine + ",") != std::string::npos) {
            chosenS.push_back(strEngine);
        }
    }
    return chosenS;
}

// The engines of testEngines() that run on a server (all but SQLite).
inline std::vector<std::string> serverEngines()
{
    std::vector<std::string> engineS;
    for (const std::string& strEngine : testEngines()) {
        if (strEngine != "sqlite") {
            engineS.push_back(strEngine);
        }
    }
    return engineS;
}

inline std::string engineTestName(const ::testing::TestParamInfo<std::string>& info)
{
    return info.param;
}

// The harness's connect string for a server engine; throws std::runtime_error when there is none.
inline std::string serverConnectString(const std::string& strEngine)
{
    std::string strFile = dbserversDirectory() + (strEngine == "postgresql" ? "/pg.conn" : "/mysql.conn");
    std::ifstream in(strFile);
    std::string strConnect;
    if (!in || !std::getline(in, strConnect) || strConnect.empty()) {
        throw std::runtime_error("No " + strEngine + " server: " + strFile +
                                 " is missing. Run the suite through ctest, whose fixture DbServers starts "
                                 "the servers, or run tests/harness/dbservers.sh start " + dbserversDirectory());
    }
    return strConnect;
}

// Copies a file whole; throws std::runtime_error when it cannot.
inline void copyFile(const std::string& strFrom, const std::string& strTo)
{
    std::ifstream in(strFrom, std::ios::binary);
    std::ofstream out(strTo, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    if (!in || !out.flush()) throw std::runtime_error("cannot copy " + strFrom + " to " + strTo);
}

// An empty database of its own for one test, removed by the destructor: a temporary file for
// SQLite, a database for MariaDB, a schema (first on the search path) for PostgreSQL; or a copy of
// a template (see the constructor that takes one).
class ScratchDatabase {
public:
    explicit ScratchDatabase(const std::string& strEngine) : _strEngine(strEngine)
    {
        static std::atomic<int> s_nCounter{0};
        _strName = "ostrel_t" + std::to_string(getpid()) + "_" + std::to_string(++s_nCounter);
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        if (strEngine == "sqlite") {
            // The process id in the name lets the harness's stop remove what a test that crashed
            // or was killed left behind, and nothing of a test still running.
            std::string strPath = "/tmp/ostrel-sqlite-" + std::to_string(getpid()) + "-XXXXXX";
            int fd = mkstemp(&strPath[0]);
            if (fd < 0) {
                throw std::runtime_error("cannot make a temporary SQLite file");
            }
            close(fd);
            _strFile = strPath;
            parameterS = {{"engine", "sqlite"}, {"database", "ostrel_test"}, {"file", _strFile}};
        } else if (strEngine == "postgresql" || strEngine == "mysql") {
            _strServer = serverConnectString(strEngine);
            VeskDal::DalDatabase::connectStringToMap(parameterS, _strServer, 0);
            admin("CREATE " + container() + " " + _strName + extra());
            if (strEngine == "postgresql") {
                parameterS["options"] = "-c search_path=" + _strName;
            } else {
                parameterS["database"] = _strName;
            }
        } else {
            throw std::runtime_error("unknown test engine " + strEngine);
        }
        _strConnect = VeskDal::DalDatabase::mapToConnectString(parameterS);
    }

    // A database that starts as a copy of a template, so that a fill taking many runs of programs is
    // paid once rather than once per test. The first test to ask fills the template (fill gets its
    // connect string), under a lock that makes a parallel test wait rather than fill it twice.
    // strKey names the template and must change whenever what fill writes changes. On SQLite the
    // template is a file in the build tree (a newer key's fill removes the older ones); on
    // PostgreSQL a database of the harness's server, which dbservers.sh start and stop remove with
    // the server's data. MariaDB fills each database anew.
    ScratchDatabase(const std::string& strEngine, const std::string& strKey,
                    const std::function<void(const std::string&)>& fill)
    {
        if (strEngine == "sqlite" && !templatesDirectory().empty()) {
            const std::string strTemplate = templatesDirectory() + "/" + strKey + ".sqlite";
            ::mkdir(templatesDirectory().c_str(), 0700);
            TemplateLock lock(templatesDirectory() + "/lock");
            if (!std::ifstream(strTemplate).good()) {
                ScratchDatabase filled("sqlite");
                fill(filled.connectString());
                removeOtherTemplates(strKey);
                copyFile(filled._strFile, strTemplate + ".tmp");
                if (std::rename((strTemplate + ".tmp").c_str(), strTemplate.c_str()) != 0)
                    throw std::runtime_error("cannot write " + strTemplate);
            }
            *this = ScratchDatabase(strEngine);
            copyFile(strTemplate, _strFile);
        } else if (strEngine == "postgresql") {
            // Every PostgreSQL test runs between the servers' start and stop, so the marker that
            // says the template exists may live (and go) with them.
            const std::string strTemplates = dbserversDirectory() + "/templates";
            const std::string strMarker = strTemplates + "/" + strKey + ".postgresql";
            ::mkdir(strTemplates.c_str(), 0700);
            {
                TemplateLock lock(strTemplates + "/lock");
                if (!std::ifstream(strMarker).good()) {
                    ScratchDatabase filled(strEngine, nullptr);
                    fill(filled.connectString());
                    filled.admin("ALTER DATABASE " + filled._strName + " RENAME TO " + templateName(strKey));
                    filled._strName.clear();
                    std::ofstream(strMarker) << templateName(strKey) << "\n";
                }
            }
            *this = ScratchDatabase(strEngine, nullptr, " TEMPLATE " + templateName(strKey));
        } else {
            *this = ScratchDatabase(strEngine);
            fill(_strConnect);
        }
    }

    ScratchDatabase(ScratchDatabase&& other) noexcept { *this = std::move(other); }
    ScratchDatabase& operator=(ScratchDatabase&& other) noexcept
    {
        if (this != &other) {
            removeDatabase();
            _strEngine = std::move(other._strEngine);
            _strName = std::exchange(other._strName, std::string());
            _strFile = std::exchange(other._strFile, std::string());
            _strServer = std::exchange(other._strServer, std::string());
            _strConnect = std::move(other._strConnect);
            _bWholeDatabase = other._bWholeDatabase;
        }
        return *this;
    }

    ~ScratchDatabase() { removeDatabase(); }

    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const std::string& engine() const { return _strEngine; }
    // Connect string of the scratch database, "engine" and "database" included.
    const std::string& connectString() const { return _strConnect; }
    VeskDal::DalDatabase::ConnectionParameterMap parameters() const
    {
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, _strConnect, 0);
        return parameterS;
    }
    // A new handle, opened on the scratch database.
    std::unique_ptr<VeskDal::DalDatabase> open() const
    {
        std::unique_ptr<VeskDal::DalDatabase> pdatabase(VeskDal::DalDynamic::dalDatabase(_strEngine));
        pdatabase->open(parameters());
        return pdatabase;
    }
    // Runs a file of SQL statements (a schema) on the scratch database.
    void runScriptFile(const std::string& strPath) const
    {
        std::ifstream in(strPath);
        if (!in) {
            throw std::runtime_error("cannot read " + strPath);
        }
        std::stringstream text;
        text << in.rdbuf();
        open()->executeScript(text.str());
    }

private:
    // A PostgreSQL database of its own (rather than a schema), made with strExtra after its name;
    // only a whole database can be copied from a template.
    ScratchDatabase(const std::string& strEngine, std::nullptr_t, const std::string& strExtra = std::string())
        : _strEngine(strEngine), _bWholeDatabase(true)
    {
        static std::atomic<int> s_nCounter{0};
        _strName = "ostrel_d" + std::to_string(getpid()) + "_" + std::to_string(++s_nCounter);
        _strServer = serverConnectString(strEngine);
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, _strServer, 0);
        admin("CREATE DATABASE " + _strName + strExtra);
        parameterS["database"] = _strName;
        _strConnect = VeskDal::DalDatabase::mapToConnectString(parameterS);
    }

    void removeDatabase() noexcept
    {
        try {
            if (!_strFile.empty()) {
                for (const char* pszSuffix : {"", "-journal", "-wal", "-shm"}) {
                    std::remove((_strFile + pszSuffix).c_str());
                }
            } else if (!_strServer.empty() && !_strName.empty()) {
                if (_bWholeDatabase) {
                    admin("DROP DATABASE " + _strName + " WITH (FORCE)");
                } else {
                    admin("DROP " + container() + " " + _strName + (_strEngine == "postgresql" ? " CASCADE" : ""));
                }
            }
        } catch (...) {
            // Leftovers go with the server when the harness stops it.
        }
        _strFile.clear();
        _strName.clear();
    }

    static std::string templateName(const std::string& strKey) { return "ostrel_template_" + strKey; }

    static std::string templatesDirectory()
    {
#ifdef OSTREL_TEST_TEMPLATES_DIR
        return OSTREL_TEST_TEMPLATES_DIR;
#else
        return std::string();
#endif
    }

    // Templates of earlier builds of the harness: nothing asks for them again.
    static void removeOtherTemplates(const std::string& strKey)
    {
        DIR* pdir = ::opendir(templatesDirectory().c_str());
        if (pdir == nullptr) return;
        while (const dirent* pentry = ::readdir(pdir)) {
            const std::string strName = pentry->d_name;
            if (strName != strKey + ".sqlite" && strName.size() > 7 &&
                strName.compare(strName.size() - 7, 7, ".sqlite") == 0)
                std::remove((templatesDirectory() + "/" + strName).c_str());
        }
        ::closedir(pdir);
    }

    // An exclusive lock on a file, held while it lives.
    class TemplateLock {
    public:
        explicit TemplateLock(const std::string& strPath) : _fd(::open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
        {
            if (_fd >= 0 && ::flock(_fd, LOCK_EX) == 0) return;
            if (_fd >= 0) ::close(_fd);
            throw std::runtime_error("cannot lock " + strPath);
        }
        ~TemplateLock() { ::close(_fd); }
        TemplateLock(const TemplateLock&) = delete;
        TemplateLock& operator=(const TemplateLock&) = delete;

    private:
        int _fd;
    };

    std::string container() const { return _strEngine == "postgresql" ? "SCHEMA" : "DATABASE"; }
    std::string extra() const
    {
        return _strEngine == "mysql" ? " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin" : "";
    }
    // Names are made above from digits, so the text is safe to run.
    void admin(const std::string& strSql) const
    {
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, _strServer, 0);
        std::unique_ptr<VeskDal::DalDatabase> pdatabase(VeskDal::DalDynamic::dalDatabase(_strEngine));
        pdatabase->open(parameterS);
        pdatabase->executeScript(strSql);
    }

    std::string _strEngine;
    std::string _strName;
    std::string _strFile;
    std::string _strServer;
    std::string _strConnect;
    bool _bWholeDatabase = false;
};

} // namespace OstrelTest

#endif
