#ifndef VESKDAL_DALDYNAMIC_H
#define VESKDAL_DALDYNAMIC_H

#include <string>

#include "VeskDal/DalDatabase.h"
#include "VeskDal/Export.h"

namespace VeskDal {

// Makes database handles of an engine chosen at run time. Each engine's driver is a module,
// libVeskDal<Engine>.so, loaded on first use from the directory that holds libVeskDal.so, else
// from the loader's search path; so a program never loads the client library of an engine it
// does not use. Modules stay loaded for the life of the process: handles and the exceptions they
// throw carry code and virtual tables of the module and may outlive any count we could keep.
class VESKDAL_API DalDynamic {
public:
    // A new, unopened handle for the engine "sqlite", "postgresql" or "mysql"; the caller owns it.
    // Throws DalDatabaseException: DDBERR_UNKNOWNENGINE naming the engine, DDBERR_MODULELOAD with
    // the loader's message. Safe to call from several threads at once.
    static DalDatabase* dalDatabase(const std::string& strEngine);
    // The module file name of an engine ("libVeskDalSqlite.so"); empty for an unknown engine.
    static std::string moduleName(const std::string& strEngine);
};

} // namespace VeskDal

// The one function a driver module exports: a new handle of its engine, owned by the caller.
#define VESKDAL_DRIVER_ENTRY "veskDalCreateDatabase"
extern "C" {
typedef VeskDal::DalDatabase* (*VeskDalCreateDatabase)();
}

#endif
