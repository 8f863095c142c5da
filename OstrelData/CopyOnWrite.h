#ifndef OSTRELDATA_COPYONWRITE_H
#define OSTRELDATA_COPYONWRITE_H

#include <memory>

#include "OstrelData/Export.h"

namespace OstrelData {

// A value that copies share until one of them is written: copying is a
// reference count, and write() clones the value first when anyone else still
// holds it. read() never clones.
//
// A reference obtained from write() belongs to this holder only until the
// holder is next copied; write through a fresh reference after copying.
//
// The value is created and cloned only inside libOstrelData (the members that
// allocate are instantiated there for the maps the model shares), so a value
// made on behalf of a plug-in never depends on the plug-in's code to be freed.
template <class T>
class OSTRELDATA_API CopyOnWrite {
public:
    // Starts with the process's shared empty value.
    CopyOnWrite();

    const T& read() const { return *_p; }
    T& write()
    {
        if (_p.use_count() > 1)
            detach();
        return *_p;
    }

    // Lets go of the value and holds the shared empty one again (no clone).
    void reset();

    // Whether this holder and other share one value (for tests and diagnostics).
    bool sharesWith(const CopyOnWrite& other) const { return _p == other._p; }

private:
    void detach();

    std::shared_ptr<T> _p;
};

} // namespace OstrelData

#endif
