#ifndef OSTRELDATA_PRSTATUS_H
#define OSTRELDATA_PRSTATUS_H

#include "OstrelData/Export.h"

namespace OstrelData {

// Whether a role or permission is held. Merging grants combines statuses:
// revoked wins over everything, a grant wins over a denial, a denial changes
// nothing.
class OSTRELDATA_API PRStatus {
public:
    // A fixed underlying type, so that any number read from outside is a valid
    // (if unknown) value.
    enum PRStatusRaw : int { statusRevoked = -1, statusDenied = 0, statusGranted = 1 };

    PRStatus(PRStatusRaw status = statusDenied) : _status(status) {}
    PRStatus(const PRStatus& other) = default;
    PRStatus& operator=(const PRStatus& other) = default;
    virtual ~PRStatus();

    // Combines other into this status; a value outside the three is left as it is.
    PRStatus& operator+=(const PRStatus& other);
    PRStatus operator+(const PRStatus& other) const;

    bool operator==(const PRStatus& other) const { return _status == other._status; }
    bool operator!=(const PRStatus& other) const { return _status != other._status; }
    bool operator==(PRStatusRaw status) const { return _status == status; }
    bool operator!=(PRStatusRaw status) const { return _status != status; }
    operator PRStatusRaw() const { return _status; }

    // 1 granted, -1 revoked, 0 and anything else denied.
    static PRStatus fromInt(int nStatus);

private:
    PRStatusRaw _status;
};

inline bool operator==(PRStatus::PRStatusRaw lhs, const PRStatus& rhs) { return rhs == lhs; }
inline bool operator!=(PRStatus::PRStatusRaw lhs, const PRStatus& rhs) { return rhs != lhs; }

} // namespace OstrelData

#endif
