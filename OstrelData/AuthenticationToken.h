#ifndef OSTRELDATA_AUTHENTICATIONTOKEN_H
#define OSTRELDATA_AUTHENTICATIONTOKEN_H

#include <string>

#include "OstrelData/Base.h"

namespace OstrelData {

// What a user presents to prove who he is.
class OSTRELDATA_API AuthenticationToken : public Base {
public:
    ~AuthenticationToken() override;
    // The token text.
    virtual const std::string& str() const = 0;

protected:
    AuthenticationToken() = default;
    AuthenticationToken(const AuthenticationToken& other) = default;
    AuthenticationToken& operator=(const AuthenticationToken& other) = default;
};

} // namespace OstrelData

#endif
