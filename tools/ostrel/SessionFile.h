#ifndef OSTREL_TOOLS_OSTREL_SESSIONFILE_H
#define OSTREL_TOOLS_OSTREL_SESSIONFILE_H

// Where "ostrel login" keeps the session id for the commands that follow, so that the id need not
// stand on a command line (where every local user can read it). Every function throws
// std::runtime_error naming the file and the reason, never the session id.

#include <string>

namespace ostreltool {

// $XDG_RUNTIME_DIR/ostrel/session, else $HOME/.ostrel-session (the home of the password database
// when HOME is unset).
std::string sessionFilePath();

// Replaces the file with one holding strSession, readable and writable by the user alone, in one
// step: a reader sees the old id or the new one. Makes the folder in the runtime directory (0700)
// when it is missing; refuses a path that is a symbolic link or anything but a regular file.
void saveSession(const std::string& strPath, const std::string& strSession);

// The id the file holds; false when there is no file. Refuses a symbolic link, anything but a
// regular file of the user's, a file others may read or write, and an empty file.
bool loadSession(const std::string& strPath, std::string& strSession);

// Removes the file; nothing happens when it is missing.
void removeSession(const std::string& strPath);

// The first line of fd without its line end (a session id given on standard input); throws when
// there is none or it is implausibly long.
std::string readSessionLine(int fd);

} // namespace ostreltool

#endif
