#include "OstrelDal/ConnectFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlException.h"

namespace OstrelDal {

namespace {

[[noreturn]] void refuse(const std::string& strPath, const std::string& strWhy)
{
    throw VeskDal::DalDatabaseException(__FILE__, __LINE__, VeskDal::DDBERR_PARAMETER, 1,
                                        "connect file " + strPath + ": " + strWhy);
}

// Closes the file however the reading ends.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : _fd(fd) {}
    ~FileDescriptor()
    {
        if (_fd >= 0) ::close(_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return _fd; }

private:
    int _fd;
};

} // namespace

std::string connectStringFromFile(const std::string& strPath)
{
    // O_NONBLOCK: a FIFO at the path is refused below instead of hanging the program.
    FileDescriptor fd(::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) refuse(strPath, std::string("cannot open it: ") + std::strerror(errno));
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) refuse(strPath, std::string("cannot examine it: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) refuse(strPath, "not a regular file");
    // The string may hold a password: a file others can read gives it away, one they can write
    // points the program at their database.
    if ((st.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0)
        refuse(strPath, "readable or writable by group or others (make it chmod 600)");
    if (st.st_size > nMaxConnectFileBytes)
        refuse(strPath, "larger than " + std::to_string(nMaxConnectFileBytes / 1024) + " KiB");

    // One more byte than allowed tells a file that grew since fstat.
    std::string strText(static_cast<size_t>(nMaxConnectFileBytes) + 1, '\0');
    size_t nRead = 0;
    while (nRead < strText.size()) {
        const ssize_t n = ::read(fd.get(), &strText[nRead], strText.size() - nRead);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refuse(strPath, std::string("cannot read it: ") + std::strerror(errno));
        if (n == 0) break;
        nRead += static_cast<size_t>(n);
    }
    if (nRead > static_cast<size_t>(nMaxConnectFileBytes))
        refuse(strPath, "larger than " + std::to_string(nMaxConnectFileBytes / 1024) + " KiB");
    strText.resize(nRead);
    std::string strLine = strText.substr(0, strText.find('\n'));
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    if (strLine.empty()) refuse(strPath, "its first line is empty");
    return strLine;
}

std::string chosenConnectString(const std::optional<std::string>& connect,
                                const std::optional<std::string>& connectFile, const std::string& strDefault)
{
    if (connect && connectFile)
        throw VeskDal::DalDatabaseException(__FILE__, __LINE__, VeskDal::DDBERR_PARAMETER, 1,
                                            "give a connect string or a connect file, not both");
    if (connect) return *connect;
    if (connectFile) return connectStringFromFile(*connectFile);
    const char* pszVariable = std::getenv(pszConnectVariable);
    if (pszVariable && *pszVariable) return pszVariable;
    return strDefault;
}

std::string readOnlyConnectString(const std::string& strConnect)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    try {
        VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
    } catch (...) {
        return strConnect;
    }
    auto itEngine = parameterS.find("engine");
    if (itEngine == parameterS.end() || itEngine->second != "sqlite") return strConnect;
    parameterS["mode"] = "ro";
    // Setting a journal mode is a write: a check that may not write leaves it to the daemon.
    parameterS.erase("journal_mode");
    return VeskDal::DalDatabase::mapToConnectString(parameterS);
}

} // namespace OstrelDal
