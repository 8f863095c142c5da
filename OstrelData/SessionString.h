#ifndef OSTRELDATA_SESSIONSTRING_H
#define OSTRELDATA_SESSIONSTRING_H

#include <string>

#include "OstrelData/Session.h"

namespace OstrelData {

// A session known only by the identifier text received from elsewhere.
class OSTRELDATA_API SessionString : public Session {
public:
    SessionString();
    explicit SessionString(const std::string& strSessionId);
    SessionString(const SessionString& other);
    SessionString& operator=(const SessionString& other);
    ~SessionString() override;

    const std::string& str() const override;
    Session* copy() const override;
};

} // namespace OstrelData

#endif
