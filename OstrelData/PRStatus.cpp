#include "OstrelData/PRStatus.h"

namespace OstrelData {

namespace {

bool isKnown(PRStatus::PRStatusRaw status)
{
    return status == PRStatus::statusRevoked || status == PRStatus::statusDenied ||
           status == PRStatus::statusGranted;
}

} // namespace

PRStatus::~PRStatus() = default;

PRStatus& PRStatus::operator+=(const PRStatus& other)
{
    if (!isKnown(_status) || !isKnown(other._status))
        return *this;
    if (other._status == statusRevoked)
        _status = statusRevoked;
    else if (other._status == statusGranted && _status == statusDenied)
        _status = statusGranted;
    return *this;
}

PRStatus PRStatus::operator+(const PRStatus& other) const
{
    PRStatus result(*this);
    result += other;
    return result;
}

PRStatus PRStatus::fromInt(int nStatus)
{
    switch (nStatus) {
    case 1:
        return PRStatus(statusGranted);
    case -1:
        return PRStatus(statusRevoked);
    default:
        return PRStatus(statusDenied);
    }
}

} // namespace OstrelData
