#include "SessionFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace ostreltool {

namespace {

// Longer than any id the service hands out; a longer line is not one.
constexpr size_t nMaxSessionBytes = 4095;

std::runtime_error fileError(const std::string& strPath, const std::string& strWhat)
{
    return std::runtime_error("session file " + strPath + ": " + strWhat);
}

std::string systemError(const char* pszDoing)
{
    return std::string(pszDoing) + ": " + std::strerror(errno);
}

std::string homeDirectory()
{
    const char* pszHome = std::getenv("HOME");
    if (pszHome && *pszHome)
        return pszHome;
    const struct passwd* ppasswd = ::getpwuid(::getuid());
    if (ppasswd && ppasswd->pw_dir && *ppasswd->pw_dir)
        return ppasswd->pw_dir;
    throw std::runtime_error("no place for the session file: neither XDG_RUNTIME_DIR nor HOME is set");
}

std::string folderOf(const std::string& strPath)
{
    const std::string::size_type nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

// The runtime directory is the user's own, but a folder in it that someone else made or that points
// elsewhere would let that someone read the id.
void makePrivateFolder(const std::string& strPath)
{
    const std::string strFolder = folderOf(strPath);
    if (::mkdir(strFolder.c_str(), 0700) != 0 && errno != EEXIST)
        throw fileError(strPath, systemError("cannot make its folder"));
    struct stat st;
    if (::lstat(strFolder.c_str(), &st) != 0)
        throw fileError(strPath, systemError("cannot examine its folder"));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)
        throw fileError(strPath, "its folder " + strFolder + " is not a directory of the user's alone");
}

void writeAll(int fd, const std::string& str)
{
    size_t nDone = 0;
    while (nDone < str.size()) {
        const ssize_t n = ::write(fd, str.data() + nDone, str.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error(systemError("cannot write it"));
        nDone += static_cast<size_t>(n);
    }
}

} // namespace

std::string sessionFilePath()
{
    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntime && *pszRuntime)
        return std::string(pszRuntime) + "/ostrel/session";
    return homeDirectory() + "/.ostrel-session";
}

void saveSession(const std::string& strPath, const std::string& strSession)
{
    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntime && *pszRuntime && folderOf(strPath) == std::string(pszRuntime) + "/ostrel")
        makePrivateFolder(strPath);
    struct stat st;
    if (::lstat(strPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw fileError(strPath, "is a symbolic link or not a regular file; remove it first");

    // mkstemp makes the file 0600 and never opens one that is there already.
    std::string strTemporary = folderOf(strPath) + "/.ostrel-session.XXXXXX";
    const int fd = ::mkstemp(&strTemporary[0]);
    if (fd < 0)
        throw fileError(strPath, systemError("cannot make a file beside it"));
    try {
        writeAll(fd, strSession + "\n");
        if (::fsync(fd) != 0)
            throw std::runtime_error(systemError("cannot write it"));
    } catch (const std::runtime_error& e) {
        ::close(fd);
        ::unlink(strTemporary.c_str());
        throw fileError(strPath, e.what());
    }
    ::close(fd);
    if (::rename(strTemporary.c_str(), strPath.c_str()) != 0) {
        const std::string strWhy = systemError("cannot put it in place");
        ::unlink(strTemporary.c_str());
        throw fileError(strPath, strWhy);
    }
}

bool loadSession(const std::string& strPath, std::string& strSession)
{
    // O_NONBLOCK: a FIFO planted at the path must not hang the command.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        if (errno == ELOOP)
            throw fileError(strPath, "is a symbolic link; log in again to replace it");
        throw fileError(strPath, systemError("cannot open it"));
    }
    struct stat st;
    std::string strWhy;
    if (::fstat(fd, &st) != 0)
        strWhy = systemError("cannot examine it");
    else if (!S_ISREG(st.st_mode))
        strWhy = "is not a regular file";
    else if (st.st_uid != ::geteuid())
        strWhy = "belongs to another user";
    else if ((st.st_mode & 077) != 0)
        strWhy = "may be read or written by others; log in again to replace it";
    if (strWhy.empty()) {
        try {
            strSession = readSessionLine(fd);
        } catch (const std::runtime_error& e) {
            strWhy = e.what();
        }
    }
    ::close(fd);
    if (!strWhy.empty())
        throw fileError(strPath, strWhy);
    return true;
}

void removeSession(const std::string& strPath)
{
    if (::unlink(strPath.c_str()) != 0 && errno != ENOENT)
        throw fileError(strPath, systemError("cannot remove it"));
}

std::string readSessionLine(int fd)
{
    std::string str;
    for (;;) {
        char c;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error(systemError("cannot read the session id"));
        if (n == 0 || c == '\n')
            break;
        if (str.size() == nMaxSessionBytes)
            throw std::runtime_error("the session id is too long (4096 bytes or more)");
        str.push_back(c);
    }
    if (!str.empty() && str.back() == '\r')
        str.pop_back();
    if (str.empty())
        throw std::runtime_error("no session id");
    return str;
}

} // namespace ostreltool
