#ifndef OSTRELDATA_BASE_H
#define OSTRELDATA_BASE_H

#include "OstrelData/Export.h"

namespace OstrelData {

// Polymorphic root of the model objects.
class OSTRELDATA_API Base {
public:
    virtual ~Base();
};

} // namespace OstrelData

#endif
