#include "VeskDal/DalDynamic.h"

#include <dlfcn.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>

namespace VeskDal {

namespace {

struct Engine {
    const char* pszName;
    const char* pszModule;
};

const Engine g_engineS[] = {
    {"sqlite", "libVeskDalSqlite.so"},
    {"postgresql", "libVeskDalPostgresql.so"},
    {"mysql", "libVeskDalMysql.so"},
};

// Guards g_creatorS; modules are loaded once per engine and never unloaded.
std::mutex g_mxModules;
std::map<std::string, VeskDalCreateDatabase> g_creatorS;

// The directory libVeskDal.so was loaded from, with a trailing '/'; empty when unknown.
std::string coreDirectory()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DalDynamic::moduleName), &info) == 0 || !info.dli_fname) {
        return std::string();
    }
    std::string strPath = info.dli_fname;
    size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}

VeskDalCreateDatabase loadModule(const std::string& strEngine, const std::string& strModule)
{
    std::string strErrors;
    void* phandle = nullptr;
    std::string strDirectory = coreDirectory();
    // An installed tree keeps the modules in lib/ostrel, out of the loader's own directory (they have
    // no soname); the build tree has them beside the library.
    if (!strDirectory.empty()) {
        std::string strInstalled = strDirectory + "ostrel/" + strModule;
        if (::access(strInstalled.c_str(), F_OK) == 0) {
            phandle = dlopen(strInstalled.c_str(), RTLD_NOW | RTLD_LOCAL);
        } else {
            phandle = dlopen((strDirectory + strModule).c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!phandle) {
            const char* pszError = dlerror();
            strErrors = pszError ? pszError : (strDirectory + strModule);
        }
    }
    if (!phandle) {
        phandle = dlopen(strModule.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!phandle) {
            const char* pszError = dlerror();
            strErrors += (strErrors.empty() ? "" : "; ") + std::string(pszError ? pszError : strModule);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_MODULELOAD, 1,
                                       "Cannot load the driver of engine \"" + strEngine + "\": " + strErrors);
        }
    }
    dlerror();
    void* pentry = dlsym(phandle, VESKDAL_DRIVER_ENTRY);
    if (!pentry) {
        const char* pszError = dlerror();
        std::string strError = pszError ? pszError : "no entry point";
        dlclose(phandle);
        throw DalDatabaseException(__FILE__, __LINE__, DDBERR_MODULELOAD, 1,
                                   "The driver " + strModule + " has no entry point " VESKDAL_DRIVER_ENTRY ": " +
                                       strError);
    }
    return reinterpret_cast<VeskDalCreateDatabase>(pentry);
}

} // namespace

std::string DalDynamic::moduleName(const std::string& strEngine)
{
    for (const Engine& engine : g_engineS) {
        if (strEngine == engine.pszName) {
            return engine.pszModule;
        }
    }
    return std::string();
}

DalDatabase* DalDynamic::dalDatabase(const std::string& strEngine)
{
    std::string strModule = moduleName(strEngine);
    if (strModule.empty()) {
        throw DalDatabaseException(__FILE__, __LINE__, DDBERR_UNKNOWNENGINE, 1,
                                   "Unknown database engine \"" + strEngine.substr(0, 64) +
                                       "\" (known: sqlite, postgresql, mysql)");
    }
    VeskDalCreateDatabase pcreate = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mxModules);
        auto it = g_creatorS.find(strEngine);
        if (it == g_creatorS.end()) {
            it = g_creatorS.emplace(strEngine, loadModule(strEngine, strModule)).first;
        }
        pcreate = it->second;
    }
    DalDatabase* pdatabase = pcreate();
    if (!pdatabase) {
        throw DalDatabaseException(__FILE__, __LINE__, DDBERR_MODULELOAD, 1,
                                   "The driver " + strModule + " made no database handle");
    }
    return pdatabase;
}

} // namespace VeskDal
