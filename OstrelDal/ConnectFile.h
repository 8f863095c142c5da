#ifndef OSTRELDAL_CONNECTFILE_H
#define OSTRELDAL_CONNECTFILE_H

// Where a program finds its database connect string other than on its command line, which every
// local user can read (ps) and the string may hold a password: a file of the program's user, or
// the environment.

#include <optional>
#include <string>

#include "OstrelDal/Export.h"

namespace OstrelDal {

// The environment variable that holds a connect string when a program is given none.
constexpr const char* pszConnectVariable = "OSTREL_CONNECT";

// The largest connect file read; anything larger is not one.
constexpr long nMaxConnectFileBytes = 64 * 1024;

// The first line of the file at strPath, without its line end. Throws VeskDal::DalDatabaseException
// (DDBERR_PARAMETER) naming the path and the reason, never the file's text, when the file cannot
// be read, is not a regular file, may be read or written by its group or others, is larger than
// nMaxConnectFileBytes, or its first line is empty.
OSTRELDAL_API std::string connectStringFromFile(const std::string& strPath);

// The connect string of a program: connect when given, else the one in the file connectFile names
// when given, else OSTREL_CONNECT when set and not empty, else strDefault. Throws as
// connectStringFromFile, and DDBERR_PARAMETER when both connect and connectFile are given (a
// program may rather refuse that itself as a bad command line).
OSTRELDAL_API std::string chosenConnectString(const std::optional<std::string>& connect,
                                              const std::optional<std::string>& connectFile,
                                              const std::string& strDefault);

// The connect string opened so that it can change nothing: SQLite's with mode=ro, which also
// finds a missing database file missing instead of making an empty one. The server engines' is
// returned as it is (their grants decide), and so is one that does not parse (opening it says why).
OSTRELDAL_API std::string readOnlyConnectString(const std::string& strConnect);

} // namespace OstrelDal

#endif
