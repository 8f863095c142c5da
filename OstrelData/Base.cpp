#include "OstrelData/Base.h"

namespace OstrelData {

Base::~Base() = default;

} // namespace OstrelData
