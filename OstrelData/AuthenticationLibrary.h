#ifndef OSTRELDATA_AUTHENTICATIONLIBRARY_H
#define OSTRELDATA_AUTHENTICATIONLIBRARY_H

#include <map>
#include <memory>
#include <string>

#include "OstrelData/Base.h"
#include "OstrelData/InitMap.h"
#include "OstrelData/SharedObject.h"

namespace OstrelData {

class Authenticator;
class Domain;

// An authentication library: as a record in the factory's template registry it
// names the shared object per platform and keeps the loader's handle; as an
// object made by a plug-in's entry point it makes authenticators for domains.
//
// Plug-in interface: the shared object exports an unmangled function "library"
// (AuthenticationLibraryEntry) that receives the template and returns a new
// object of the plug-in's own subclass, normally built with the template
// constructor. Objects made by plug-ins are never freed.
class OSTRELDATA_API AuthenticationLibrary : public Base {
public:
    // The dynamic loader's handle.
    typedef void* Handle;

    // How the library expects the user's token (character codes).
    enum AuthenticationTokenDisposition : int {
        dispositionUnknown = '-',
        dispositionConfig = 'C',
        dispositionHashedPassword = 'H',
        dispositionNotUsed = 'N',
        dispositionClearPassword = 'P',
        dispositionMap = 'X'
    };

    AuthenticationLibrary();
    AuthenticationLibrary(int nAuthenticationLibrary, const std::string& strDescription, const InitMap& initLibrary,
                          AuthenticationTokenDisposition disposition, bool bUserTools);
    // For plug-ins: number, parameters, disposition, user-tools flag and shared
    // objects of the template; empty description and no handle.
    explicit AuthenticationLibrary(const AuthenticationLibrary* ptemplate);
    // A copy shares the open library; it is closed when the last holder goes.
    AuthenticationLibrary(const AuthenticationLibrary& other);
    AuthenticationLibrary& operator=(const AuthenticationLibrary& other);
    ~AuthenticationLibrary() override;

    // A new authenticator for the domain, or null when the library cannot serve
    // it. The base makes none.
    virtual Authenticator* authenticator(const Domain& domain, const std::string& strDescription,
                                         const InitMap& initAuthenticator);

    int authenticationLibrary() const { return _nAuthenticationLibrary; }
    const std::string& description() const { return _strDescription; }
    const InitMap& libraryInit() const { return _initLibrary; }
    AuthenticationTokenDisposition authenticationTokenDisposition() const { return _authenticationTokenDisposition; }
    bool userTools() const { return _bUserTools; }
    const SharedObjectPtrMap& sharedObjects() const { return _sharedObjectS; }
    SharedObjectPtrMap& sharedObjects() { return _sharedObjectS; }
    // Null unless the shared object is open.
    Handle handle() const { return _handle.get(); }

    void setDescription(const std::string& strDescription) { _strDescription = strDescription; }
    void setLibraryInit(const InitMap& initLibrary) { _initLibrary = initLibrary; }
    void setAuthenticationTokenDisposition(AuthenticationTokenDisposition disposition)
    {
        _authenticationTokenDisposition = disposition;
    }
    void setUserTools(bool bUserTools) { _bUserTools = bUserTools; }

    // The file for a platform code ("" means "LNX"); throws 506 with the code
    // when the library has none.
    const SharedObject& sharedObject(const std::string& strPlatform) const;

    // Opens the shared object (once) and runs its entry point on this template;
    // the object it returns replaces this number's entry in
    // Factory::authenticationLibraries() and is returned. Throws 506 (no file
    // for the platform), 5001 (the loader's message; the handle stays null),
    // 5002 "Symbol not found" (closed again) or 5011 (the entry point made no
    // library; nothing is registered). Failures of the plug-in pass through.
    AuthenticationLibrary* load();

private:
    int _nAuthenticationLibrary;
    std::string _strDescription;
    InitMap _initLibrary;
    AuthenticationTokenDisposition _authenticationTokenDisposition;
    bool _bUserTools;
    SharedObjectPtrMap _sharedObjectS;
    // Shared by the copies of a loaded template; the last one closes it.
    std::shared_ptr<void> _handle;
};

// The entry point every plug-in exports as "library".
extern "C" {
typedef AuthenticationLibrary* (*AuthenticationLibraryEntry)(AuthenticationLibrary* ptemplate);
}

// Library records by number (the templates).
class OSTRELDATA_API AuthenticationLibraryMap : public std::map<int, AuthenticationLibrary> {
public:
    using std::map<int, AuthenticationLibrary>::map;
};

// Libraries made by the plug-ins, by number; the pointers are not owned.
class OSTRELDATA_API AuthenticationLibraryPtrMap : public std::map<int, AuthenticationLibrary*> {
public:
    using std::map<int, AuthenticationLibrary*>::map;
};

} // namespace OstrelData

#endif
