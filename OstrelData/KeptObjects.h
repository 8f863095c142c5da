#ifndef OSTRELDATA_KEPTOBJECTS_H
#define OSTRELDATA_KEPTOBJECTS_H

// Internal to the library: not installed.

namespace OstrelData {

// Library objects and authenticators that plug-ins make live for the whole
// process by design, yet the pointer registries that hold them are destroyed
// at exit and tests take their entries out again. Every live object of those
// kinds is listed here, in a list that is never destroyed, so that it stays
// reachable (and leak checkers see it as such) until it is deleted.
void keepObject(const void* pObject);
void releaseObject(const void* pObject);

} // namespace OstrelData

#endif
