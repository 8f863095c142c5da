#include "OstrelData/KeptObjects.h"

#include <unordered_set>

#include "Corvel/Mutex.h"

namespace OstrelData {

namespace {

struct KeptObjects {
    Corvel::Mutex mx; // guards objectS: plug-ins may make objects on any thread
    std::unordered_set<const void*> objectS;
};

KeptObjects& keptObjects()
{
    // Deliberately never destroyed: it must outlive every static registry.
    static KeptObjects* s_pkept = new KeptObjects;
    return *s_pkept;
}

} // namespace

void keepObject(const void* pObject)
{
    KeptObjects& kept = keptObjects();
    Corvel::MutexLock lock(kept.mx);
    kept.objectS.insert(pObject);
}

void releaseObject(const void* pObject)
{
    KeptObjects& kept = keptObjects();
    Corvel::MutexLock lock(kept.mx);
    kept.objectS.erase(pObject);
}

} // namespace OstrelData
