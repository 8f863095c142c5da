#ifndef OSTREL_TESTS_FUZZTARGET_H
#define OSTREL_TESTS_FUZZTARGET_H

// Each harness is one function of bytes. Built alone (OSTREL_FUZZ_ENTRY) it is the libFuzzer entry
// point; the corpus replay test links them all side by side and calls each by name.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace OstrelFuzz {

int fuzzXml(const uint8_t* pbyData, size_t nSize);
int fuzzFrames(const uint8_t* pbyData, size_t nSize);
int fuzzRequests(const uint8_t* pbyData, size_t nSize);
int fuzzConnectString(const uint8_t* pbyData, size_t nSize);
int fuzzSettings(const uint8_t* pbyData, size_t nSize);

// Inputs that hold several texts (requests of one connection, the two settings files) separate
// them with this line; the dictionaries offer it.
constexpr const char* pszSeparator = "\n%%\n";

inline std::vector<std::string> splitInput(const uint8_t* pbyData, size_t nSize)
{
    const std::string strInput(reinterpret_cast<const char*>(pbyData), nSize);
    const std::string strSeparator(pszSeparator);
    std::vector<std::string> partS;
    size_t nStart = 0;
    for (size_t nAt; (nAt = strInput.find(strSeparator, nStart)) != std::string::npos;
         nStart = nAt + strSeparator.size())
        partS.push_back(strInput.substr(nStart, nAt - nStart));
    partS.push_back(strInput.substr(nStart));
    return partS;
}

// A broken promise of the code under test: reported, then the crash libFuzzer and the replay test
// both notice.
[[noreturn]] inline void finding(const std::string& strWhat)
{
    std::fprintf(stderr, "FUZZ FINDING: %s\n", strWhat.c_str());
    std::abort();
}

// A scratch folder of the process's own, removed when the process exits.
inline std::string scratchFolder()
{
    static const std::string s_strDir = [] {
        char szDir[] = "/tmp/ostrel-fuzz-XXXXXX";
        if (!mkdtemp(szDir)) finding("cannot make a scratch folder");
        return std::string(szDir);
    }();
    static const int s_nCleanUp = std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(s_strDir, ec);
    });
    (void)s_nCleanUp;
    return s_strDir;
}

} // namespace OstrelFuzz

#ifdef OSTREL_FUZZ_ENTRY
#define OSTREL_FUZZ_TARGET(name)                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) \
    {                                                                             \
        return OstrelFuzz::name(pbyData, nSize);                                  \
    }                                                                             \
    int OstrelFuzz::name(const uint8_t* pbyData, size_t nSize)
#else
#define OSTREL_FUZZ_TARGET(name) int OstrelFuzz::name(const uint8_t* pbyData, size_t nSize)
#endif

#endif
