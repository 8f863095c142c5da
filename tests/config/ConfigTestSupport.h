#ifndef OSTREL_TESTS_CONFIG_CONFIGTESTSUPPORT_H
#define OSTREL_TESTS_CONFIG_CONFIGTESTSUPPORT_H

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "OstrelData/Exception.h"

// Expects the statement to throw an OstrelData::Exception with this code and legend.
#define EXPECT_SETTINGS_THROW(statement, nCode, strLegend)                  \
    do {                                                                    \
        try {                                                               \
            statement;                                                      \
            ADD_FAILURE() << "no exception from " #statement;               \
        } catch (const OstrelData::Exception& e_) {                         \
            EXPECT_EQ((nCode), e_.errorCode()) << e_;                       \
            EXPECT_EQ(std::string(strLegend), e_.legend()) << e_;           \
        }                                                                   \
    } while (0)

namespace configtest {

// A fresh folder that also serves as HOME for the duration of a test, so that
// nothing reaches the real home directory.
class TempHome {
public:
    TempHome()
    {
        char szTemplate[] = "/tmp/ostrel-config-XXXXXX";
        const char* pszDir = ::mkdtemp(szTemplate);
        if (!pszDir)
            throw std::runtime_error("mkdtemp failed");
        _strDir = pszDir;
        const char* pszHome = ::getenv("HOME");
        _bHadHome = pszHome != nullptr;
        if (_bHadHome)
            _strOldHome = pszHome;
        ::setenv("HOME", _strDir.c_str(), 1);
    }
    ~TempHome()
    {
        if (_bHadHome)
            ::setenv("HOME", _strOldHome.c_str(), 1);
        else
            ::unsetenv("HOME");
        std::string strCommand = "rm -rf '" + _strDir + "'";
        if (::system(strCommand.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << _strDir;
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& dir() const { return _strDir; }
    std::string path(const std::string& strName) const { return _strDir + "/" + strName; }

private:
    std::string _strDir;
    std::string _strOldHome;
    bool _bHadHome;
};

inline bool exists(const std::string& strPath)
{
    struct stat st;
    return ::lstat(strPath.c_str(), &st) == 0;
}

inline std::string readFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::string& strPath, const std::string& strText)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strText;
}

// Names in a folder, without "." and "..".
inline std::vector<std::string> listFolder(const std::string& strDir)
{
    std::vector<std::string> nameS;
    if (DIR* pdir = ::opendir(strDir.c_str())) {
        while (struct dirent* pentry = ::readdir(pdir)) {
            std::string strName = pentry->d_name;
            if (strName != "." && strName != "..")
                nameS.push_back(strName);
        }
        ::closedir(pdir);
    }
    return nameS;
}

} // namespace configtest

#endif
