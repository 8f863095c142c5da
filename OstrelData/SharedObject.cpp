#include "OstrelData/SharedObject.h"

#include "OstrelData/AuthenticationLibrary.h"
#include "OstrelData/Exception.h"

namespace OstrelData {

SharedObject::SharedObject() : _pplatform(nullptr), _pauthenticationLibrary(nullptr), _key("", 0) {}

SharedObject::SharedObject(const Platform& platform, const AuthenticationLibrary& authenticationLibrary,
                           const std::string& strSharedObject)
    : _pplatform(&platform), _pauthenticationLibrary(&authenticationLibrary), _strSharedObject(strSharedObject),
      _key(platform.platform(), authenticationLibrary.authenticationLibrary())
{
}

SharedObject::SharedObject(const SharedObject& other) = default;

SharedObject& SharedObject::operator=(const SharedObject& other)
{
    if (this != &other) {
        _pplatform = other._pplatform;
        _pauthenticationLibrary = other._pauthenticationLibrary;
        _strSharedObject = other._strSharedObject;
        _key = other._key;
    }
    return *this;
}

SharedObject::~SharedObject() = default;

const Platform& SharedObject::platform() const
{
    if (_pplatform == nullptr)
        OSTREL_RAISE(nNAX_NOPLATFORMSET, "No platform set");
    return *_pplatform;
}

const AuthenticationLibrary& SharedObject::authenticationLibrary() const
{
    if (_pauthenticationLibrary == nullptr)
        OSTREL_RAISE(nNAX_NOAUTHENTICATIONLIBRARYSET, "No authenticationlibrary set");
    return *_pauthenticationLibrary;
}

} // namespace OstrelData
