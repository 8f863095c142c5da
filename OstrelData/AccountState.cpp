#include "OstrelData/AccountState.h"

namespace OstrelData {

// Out of line, so that the type has one identity in every module that loads it.
AccountState::~AccountState() = default;
AccountControl::~AccountControl() = default;
StampedLogin::~StampedLogin() = default;

} // namespace OstrelData
