#ifndef OSTRELDATA_SHAREDOBJECT_H
#define OSTRELDATA_SHAREDOBJECT_H

#include <map>
#include <string>
#include <utility>

#include "OstrelData/Base.h"
#include "OstrelData/Platform.h"

namespace OstrelData {

class AuthenticationLibrary;

// The file that implements an authentication library on one platform.
class OSTRELDATA_API SharedObject : public Base {
public:
    // (platform code, library number).
    typedef std::pair<std::string, int> Key;

    SharedObject();
    SharedObject(const Platform& platform, const AuthenticationLibrary& authenticationLibrary,
                 const std::string& strSharedObject);
    SharedObject(const SharedObject& other);
    SharedObject& operator=(const SharedObject& other);
    ~SharedObject() override;

    const Key& key() const { return _key; }
    // The file name or path handed to the dynamic loader.
    const std::string& sharedObject() const { return _strSharedObject; }
    // Throws 504 when no platform is set.
    const Platform& platform() const;
    // Throws 505 when no library is set.
    const AuthenticationLibrary& authenticationLibrary() const;

private:
    const Platform* _pplatform;
    const AuthenticationLibrary* _pauthenticationLibrary;
    std::string _strSharedObject;
    Key _key;
};

// Every shared-object file by (platform code, library number).
class OSTRELDATA_API SharedObjectMap : public std::map<SharedObject::Key, SharedObject> {
public:
    using std::map<SharedObject::Key, SharedObject>::map;
};

// A library's file per platform code; the pointers are not owned.
class OSTRELDATA_API SharedObjectPtrMap : public std::map<std::string, SharedObject*> {
public:
    using std::map<std::string, SharedObject*>::map;
};

} // namespace OstrelData

#endif
