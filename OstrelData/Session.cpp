#include "OstrelData/Session.h"

#include "OstrelData/Exception.h"
#include "OstrelData/SessionString.h"

namespace OstrelData {

std::atomic<int> Session::_nTimeout{1800};

Session::Session() : _tAccessed(-1) {}

Session::Session(const std::string& strSessionId) : _strSessionId(strSessionId), _tAccessed(-1) {}

Session::Session(const Session& other) = default;

Session& Session::operator=(const Session& other)
{
    if (this != &other) {
        _strSessionId = other._strSessionId;
        _tAccessed = other._tAccessed;
    }
    return *this;
}

Session::~Session() = default;

const std::string& Session::str() const
{
    return _strSessionId;
}

Session* Session::copy() const
{
    return new Session(*this);
}

void Session::setSessionTimeout(int nSeconds)
{
    _nTimeout = nSeconds;
}

bool Session::expiredAt(time_t tNow) const
{
    // Used exactly time-out seconds after the last use, a session is still valid.
    return _tAccessed != -1 && tNow > _tAccessed + static_cast<time_t>(_nTimeout.load());
}

void Session::access()
{
    const time_t tNow = time(nullptr);
    if (expiredAt(tNow))
        OSTREL_RAISE(nNAX_BADSESSION, "Session timed out.");
    _tAccessed = tNow;
}

bool Session::expired() const
{
    return expiredAt(time(nullptr));
}

SessionString::SessionString() = default;

SessionString::SessionString(const std::string& strSessionId) : Session(strSessionId) {}

SessionString::SessionString(const SessionString& other) = default;

SessionString& SessionString::operator=(const SessionString& other)
{
    Session::operator=(other);
    return *this;
}

SessionString::~SessionString() = default;

const std::string& SessionString::str() const
{
    return Session::str();
}

Session* SessionString::copy() const
{
    return new SessionString(*this);
}

} // namespace OstrelData
