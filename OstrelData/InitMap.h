#ifndef OSTRELDATA_INITMAP_H
#define OSTRELDATA_INITMAP_H

#include <map>
#include <string>

#include "OstrelData/Export.h"

namespace OstrelData {

// Initialisation parameters: name to value.
class OSTRELDATA_API InitMap : public std::map<std::string, std::string> {
public:
    using std::map<std::string, std::string>::map;
};

// A product's parameters per profile name.
class OSTRELDATA_API InitMapMap : public std::map<std::string, InitMap> {
public:
    using std::map<std::string, InitMap>::map;
};

// A profile's parameters per product number.
class OSTRELDATA_API ProductInitMap : public std::map<int, InitMap> {
public:
    using std::map<int, InitMap>::map;
};

} // namespace OstrelData

#endif
