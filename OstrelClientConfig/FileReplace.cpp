#include "OstrelClientConfig/FileReplace.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace OstrelClientConfig {
namespace FileReplace {

namespace {

StepHook g_hook;  // tests only; one thread at a time, as the settings are

// False when the test hook refuses the step; errno is then EIO.
bool allowed(Step step)
{
    if (g_hook && !g_hook(step)) {
        errno = EIO;
        return false;
    }
    return true;
}

// The file a path finally names: symbolic links are followed so that a linked
// settings file keeps its link. A missing target is left as given.
std::string resolve(const std::string& strPath)
{
    char szResolved[PATH_MAX];
    struct stat st;
    if (::lstat(strPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::realpath(strPath.c_str(), szResolved))
        return szResolved;
    return strPath;
}

bool writeAll(int fd, const std::string& strText)
{
    const char* p = strText.data();
    size_t nLeft = strText.size();
    while (nLeft > 0) {
        ssize_t n = ::write(fd, p, nLeft);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        nLeft -= static_cast<size_t>(n);
    }
    return true;
}

void syncFolder(const std::string& strPath)
{
    std::string::size_type nSlash = strPath.rfind('/');
    std::string strDir = nSlash == std::string::npos ? "." : (nSlash == 0 ? "/" : strPath.substr(0, nSlash));
    int fd = ::open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // Best effort: the data is safe already; this only makes the rename durable.
        (void)::fsync(fd);
        ::close(fd);
    }
}

} // namespace

void setStepHook(StepHook hook)
{
    g_hook = std::move(hook);
}

Result replace(const std::string& strPath, const std::string& strText, mode_t modeNew)
{
    Result result;
    const std::string strTarget = resolve(strPath);

    struct stat stOld;
    const bool bHadOld = ::stat(strTarget.c_str(), &stOld) == 0 && S_ISREG(stOld.st_mode);

    std::string strTemp = strTarget + ".XXXXXX";
    std::vector<char> temp(strTemp.begin(), strTemp.end());
    temp.push_back('\0');

    auto fail = [&](Step step, int fd) {
        result.bOk = false;
        result.step = step;
        result.nErrno = errno;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temp.data());
        }
        return result;
    };

    if (!allowed(Step::createTemp))
        return fail(Step::createTemp, -1);
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(Step::createTemp, -1);
    // mkostemp makes the file 0600; the settings keep the mode they had.
    const mode_t mode = bHadOld ? (stOld.st_mode & 07777) : modeNew;
    if (::fchmod(fd, mode) != 0)
        return fail(Step::createTemp, fd);
    if (bHadOld && (stOld.st_uid != ::geteuid() || stOld.st_gid != ::getegid()))
        (void)::fchown(fd, stOld.st_uid, stOld.st_gid);  // only root can; others keep their own

    if (!allowed(Step::write) || !writeAll(fd, strText))
        return fail(Step::write, fd);
    if (!allowed(Step::sync) || ::fsync(fd) != 0)
        return fail(Step::sync, fd);
    if (::close(fd) != 0) {
        int nErrno = errno;
        ::unlink(temp.data());
        errno = nErrno;
        return fail(Step::sync, -1);
    }
    if (!allowed(Step::rename) || ::rename(temp.data(), strTarget.c_str()) != 0) {
        int nErrno = errno;
        ::unlink(temp.data());
        errno = nErrno;
        return fail(Step::rename, -1);
    }
    syncFolder(strTarget);
    return result;
}

bool readAll(int fd, long nMaxBytes, std::string& strText, std::string& strReason)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        strReason = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        strReason = "not a regular file";
        return false;
    }
    strText.clear();
    char buffer[1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A half-read file would be saved back half: refuse it instead.
            strReason = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        if (static_cast<long>(strText.size()) + n > nMaxBytes) {
            strReason = "larger than " + std::to_string(nMaxBytes) + " bytes";
            return false;
        }
        strText.append(buffer, static_cast<size_t>(n));
    }
}

} // namespace FileReplace
} // namespace OstrelClientConfig
