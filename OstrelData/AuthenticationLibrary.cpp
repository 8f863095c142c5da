#include "OstrelData/AuthenticationLibrary.h"

#include <dlfcn.h>

#include "Corvel/EventLogger.h"
#include "OstrelData/Exception.h"
#include "OstrelData/Factory.h"
#include "OstrelData/KeptObjects.h"

namespace OstrelData {

namespace {

constexpr int nLayerApplication = 1;

void closeLibrary(void* handle)
{
    if (handle != nullptr)
        dlclose(handle);
}

void logRefusal(const std::string& strPath, const std::string& strReason)
{
    Corvel::EventLogger::theLogger().logError("Authentication library " + strPath + " refused: " + strReason,
                                              nLayerApplication);
}

} // namespace

AuthenticationLibrary::AuthenticationLibrary()
    : _nAuthenticationLibrary(-1), _authenticationTokenDisposition(dispositionUnknown), _bUserTools(false)
{
    keepObject(this);
}

AuthenticationLibrary::AuthenticationLibrary(int nAuthenticationLibrary, const std::string& strDescription,
                                             const InitMap& initLibrary, AuthenticationTokenDisposition disposition,
                                             bool bUserTools)
    : _nAuthenticationLibrary(nAuthenticationLibrary), _strDescription(strDescription), _initLibrary(initLibrary),
      _authenticationTokenDisposition(disposition), _bUserTools(bUserTools)
{
    keepObject(this);
}

AuthenticationLibrary::AuthenticationLibrary(const AuthenticationLibrary* ptemplate)
    : _nAuthenticationLibrary(ptemplate->_nAuthenticationLibrary), _initLibrary(ptemplate->_initLibrary),
      _authenticationTokenDisposition(ptemplate->_authenticationTokenDisposition),
      _bUserTools(ptemplate->_bUserTools), _sharedObjectS(ptemplate->_sharedObjectS)
{
    keepObject(this);
}

AuthenticationLibrary::AuthenticationLibrary(const AuthenticationLibrary& other)
    : Base(other), _nAuthenticationLibrary(other._nAuthenticationLibrary), _strDescription(other._strDescription),
      _initLibrary(other._initLibrary), _authenticationTokenDisposition(other._authenticationTokenDisposition),
      _bUserTools(other._bUserTools), _sharedObjectS(other._sharedObjectS), _handle(other._handle)
{
    keepObject(this);
}

AuthenticationLibrary& AuthenticationLibrary::operator=(const AuthenticationLibrary& other)
{
    if (this != &other) {
        _nAuthenticationLibrary = other._nAuthenticationLibrary;
        _strDescription = other._strDescription;
        _initLibrary = other._initLibrary;
        _authenticationTokenDisposition = other._authenticationTokenDisposition;
        _bUserTools = other._bUserTools;
        _sharedObjectS = other._sharedObjectS;
        _handle = other._handle;
    }
    return *this;
}

AuthenticationLibrary::~AuthenticationLibrary()
{
    releaseObject(this);
}

Authenticator* AuthenticationLibrary::authenticator(const Domain&, const std::string&, const InitMap&)
{
    return nullptr;
}

const SharedObject& AuthenticationLibrary::sharedObject(const std::string& strPlatform) const
{
    const std::string strCode = strPlatform.empty() ? std::string(Platform::pszThisPlatform) : strPlatform;
    SharedObjectPtrMap::const_iterator it = _sharedObjectS.find(strCode);
    if (it == _sharedObjectS.end() || it->second == nullptr)
        OSTREL_RAISE(nNAX_NOSHAREDOBJECTSET, strCode);
    return *it->second;
}

AuthenticationLibrary* AuthenticationLibrary::load()
{
    std::string strPath;
    if (!_handle) {
        strPath = sharedObject("").sharedObject();
        void* handle = dlopen(strPath.c_str(), RTLD_LAZY);
        if (handle == nullptr) {
            const char* pszError = dlerror();
            const std::string strError = pszError != nullptr ? pszError : strPath;
            logRefusal(strPath, strError);
            OSTREL_RAISE(nNAX_NOSHAREDOBJECT, strError);
        }
        _handle.reset(handle, closeLibrary);
    } else {
        // Already open: the file is only named in the log.
        SharedObjectPtrMap::const_iterator it = _sharedObjectS.find(Platform::pszThisPlatform);
        strPath = it != _sharedObjectS.end() && it->second != nullptr ? it->second->sharedObject()
                                                                        : "#" + std::to_string(_nAuthenticationLibrary);
    }

    dlerror(); // a stale error from elsewhere must not be taken for ours
    void* pSymbol = dlsym(_handle.get(), "library");
    const char* pszError = dlerror();
    if (pszError != nullptr || pSymbol == nullptr) {
        logRefusal(strPath, pszError != nullptr ? pszError : "entry point \"library\" is null");
        _handle.reset();
        OSTREL_RAISE(nNAX_NOENTRYPOINT, "Symbol not found");
    }

    AuthenticationLibraryEntry entry = reinterpret_cast<AuthenticationLibraryEntry>(pSymbol);
    AuthenticationLibrary* plibrary = entry(this);
    // A plug-in that makes no library would leave a null entry that crashes its
    // first user; refuse it here instead.
    if (plibrary == nullptr) {
        logRefusal(strPath, "the entry point returned no library");
        OSTREL_RAISE(nNAX_AUTHENTICATIONLIBRARYINITFAILED, strPath);
    }
    Factory::authenticationLibraries()[_nAuthenticationLibrary] = plibrary;
    return plibrary;
}

} // namespace OstrelData
