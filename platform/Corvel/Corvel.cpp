#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <iterator>
#include <sstream>
#include <sys/time.h>

#include "Corvel/EventLogger.h"
#include "Corvel/Exception.h"
#include "Corvel/Mutex.h"
#include "Corvel/Semaphore.h"
#include "Corvel/StringList.h"
#include "Corvel/Version.h"

namespace Corvel {

// ---- Version -------------------------------------------------------------

Version::Version() : _nMajor(0), _nMinor(0), _nRelease(0), _nBuild(0) {}

Version::Version(int nMajor, int nMinor, int nRelease, int nBuild)
    : _nMajor(nMajor), _nMinor(nMinor), _nRelease(nRelease), _nBuild(nBuild) {}

std::string Version::text() const
{
    return std::to_string(_nMajor) + "." + std::to_string(_nMinor) + "." + std::to_string(_nRelease) + "." +
           std::to_string(_nBuild);
}

Version Version::fromText(const std::string& strText)
{
    StringList pieceS = tokenize(strText, ".");
    if (pieceS.size() != 4)
        throw Exception(__FILE__, __LINE__, CVLX_SEELEGEND, false, "Bad version text '" + strText + "'");
    int anPart[4];
    for (size_t i = 0; i < 4; ++i) {
        const std::string& strPiece = pieceS[i];
        if (strPiece.empty() || strPiece.size() > 9 || strPiece.find_first_not_of("0123456789") != std::string::npos)
            throw Exception(__FILE__, __LINE__, CVLX_SEELEGEND, false, "Bad version text '" + strText + "'");
        anPart[i] = std::atoi(strPiece.c_str());
    }
    return Version(anPart[0], anPart[1], anPart[2], anPart[3]);
}

bool Version::operator==(const Version& other) const
{
    return _nMajor == other._nMajor && _nMinor == other._nMinor && _nRelease == other._nRelease &&
           _nBuild == other._nBuild;
}

bool Version::operator<(const Version& other) const
{
    if (_nMajor != other._nMajor) return _nMajor < other._nMajor;
    if (_nMinor != other._nMinor) return _nMinor < other._nMinor;
    if (_nRelease != other._nRelease) return _nRelease < other._nRelease;
    return _nBuild < other._nBuild;
}

// ---- Exception -----------------------------------------------------------

Exception::Exception(const std::string& strFile, int nLine, int nCode, bool bFlag, const std::string& strLegend)
    : _strFile(strFile), _nLine(nLine), _nCode(nCode), _bFlag(bFlag), _strLegend(strLegend)
{
}

std::ostream& operator<<(std::ostream& os, const Exception& e)
{
    return os << "Corvel::Exception code=" << e.code() << " at " << e.file() << " @ " << e.line() << ": "
              << e.legend();
}

// ---- StringList ----------------------------------------------------------

StringList tokenize(const std::string& strText, const std::string& strSeparator)
{
    StringList pieceS;
    if (strSeparator.empty()) {
        pieceS.push_back(strText);
        return pieceS;
    }
    std::string::size_type nStart = 0;
    for (;;) {
        std::string::size_type nAt = strText.find(strSeparator, nStart);
        if (nAt == std::string::npos) {
            pieceS.push_back(strText.substr(nStart));
            return pieceS;
        }
        pieceS.push_back(strText.substr(nStart, nAt - nStart));
        nStart = nAt + strSeparator.size();
    }
}

// ---- Mutex ---------------------------------------------------------------

Mutex::Mutex(const std::string& strName) : _strName(strName) {}

void Mutex::lock(const std::string&) { _mx.lock(); }

void Mutex::unlock() { _mx.unlock(); }

// ---- Semaphore -----------------------------------------------------------

Semaphore::Semaphore(unsigned int uInitial) : _uCount(uInitial) {}

bool Semaphore::wait(long nMilliseconds)
{
    if (nMilliseconds < 0) nMilliseconds = 0;
    const auto tDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    MutexLock lock(_mx);
    while (_uCount == 0)
        if (!_cv.waitUntil(_mx, tDeadline) && _uCount == 0) return false;
    --_uCount;
    return true;
}

void Semaphore::signal(bool bAll)
{
    {
        MutexLock lock(_mx);
        ++_uCount;
    }
    if (bAll)
        _cv.notifyAll();
    else
        _cv.notifyOne();
}

void Semaphore::reset()
{
    MutexLock lock(_mx);
    _uCount = 0;
}

// ---- EventLogger ---------------------------------------------------------

namespace {

// Also serialises the writing of lines, so that concurrent events never mix.
Mutex g_mxLog;
EventLogger::Sink g_sink CORVEL_GUARDED_BY(g_mxLog);
EventLogger::Level g_level CORVEL_GUARDED_BY(g_mxLog) = EventLogger::levelInfo;

const char* levelName(EventLogger::Level level)
{
    switch (level) {
    case EventLogger::levelError: return "ERROR";
    case EventLogger::levelWarning: return "WARNING";
    case EventLogger::levelInfo: return "INFO";
    default: return "DEBUG";
    }
}

std::string timestamp()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmUtc;
    gmtime_r(&tv.tv_sec, &tmUtc);
    char szBuf[40];
    size_t n = strftime(szBuf, sizeof szBuf, "%Y-%m-%dT%H:%M:%S", &tmUtc);
    snprintf(szBuf + n, sizeof szBuf - n, ".%03ldZ", static_cast<long>(tv.tv_usec / 1000));
    return szBuf;
}

} // namespace

EventLogger::EventLogger(const std::string& strName) : _strName(strName) {}

EventLogger::~EventLogger() {}

EventLogger& EventLogger::theLogger()
{
    static EventLogger logger("Ostrel");
    return logger;
}

void EventLogger::logError(const std::string& strText, int nLayer) { log(levelError, strText, nLayer); }
void EventLogger::logWarning(const std::string& strText, int nLayer) { log(levelWarning, strText, nLayer); }
void EventLogger::logInfo(const std::string& strText, int nLayer) { log(levelInfo, strText, nLayer); }
void EventLogger::logDebug(const std::string& strText, int nLayer) { log(levelDebug, strText, nLayer); }

void EventLogger::setLevel(Level level)
{
    MutexLock lock(g_mxLog);
    g_level = level;
}

EventLogger::Level EventLogger::level()
{
    MutexLock lock(g_mxLog);
    return g_level;
}

void EventLogger::setSink(Sink sink)
{
    MutexLock lock(g_mxLog);
    g_sink = std::move(sink);
}

void EventLogger::log(Level level, const std::string& strText, int nLayer)
{
    if (level > EventLogger::level()) return;
    std::string strLine = timestamp() + " " + levelName(level) + " [" + _strName + "] (layer " +
                          std::to_string(nLayer) + ") ";
    strLine.reserve(strLine.size() + strText.size());
    // Every control byte and the backslash escaped: no text can end a line, move a terminal's
    // cursor, or pass for an escape the logger wrote.
    static const char acHex[] = "0123456789abcdef";
    for (char c : strText) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\')
            strLine += "\\\\";
        else if (c == '\n')
            strLine += "\\n";
        else if (c == '\r')
            strLine += "\\r";
        else if (c == '\t')
            strLine += "\\t";
        else if (u < 0x20 || u == 0x7f)
            strLine += std::string("\\x") + acHex[u >> 4] + acHex[u & 15];
        else
            strLine += c;
    }
    MutexLock lock(g_mxLog);
    if (level > g_level) return;
    if (g_sink) {
        g_sink(strLine);
    } else {
        strLine += '\n';
        fwrite(strLine.data(), 1, strLine.size(), stderr);
    }
}

std::string EventLogger::clip(const std::string& str)
{
    constexpr size_t nMax = 128;
    if (str.size() <= nMax) return str;
    return str.substr(0, nMax) + "...(cut, " + std::to_string(str.size()) + " bytes)";
}

bool LogThrottle::admit(const std::string& strSource, std::string& strSummary)
{
    const auto tNow = std::chrono::steady_clock::now();
    const auto tWindow = std::chrono::seconds(nWindowSeconds);
    MutexLock lock(_mx);
    if (_sourceS.size() >= nMaxSources) forgetOldestHalf();
    if (_all.nCount == 0 || tNow - _all.tStart >= tWindow) {
        if (_all.nSuppressed > 0) strSummary = summary("all sources together", _all.nSuppressed);
        _all = Window{tNow, 0, 0};
    }
    Window& entry = _sourceS[strSource];
    if (entry.nCount == 0 || tNow - entry.tStart >= tWindow) {
        if (entry.nSuppressed > 0)
            strSummary += (strSummary.empty() ? "" : "; ") + summary(strSource, entry.nSuppressed);
        entry = Window{tNow, 0, 0};
    }
    if (++entry.nCount > nPerWindow) {
        ++entry.nSuppressed;
        return false;
    }
    if (++_all.nCount > nAllPerWindow) {
        ++_all.nSuppressed;
        return false;
    }
    return true;
}

std::vector<std::string> LogThrottle::flush()
{
    const auto tNow = std::chrono::steady_clock::now();
    const auto tWindow = std::chrono::seconds(nWindowSeconds);
    std::vector<std::string> summaryS;
    MutexLock lock(_mx);
    for (auto it = _sourceS.begin(); it != _sourceS.end();) {
        if (tNow - it->second.tStart < tWindow) {
            ++it;
            continue;
        }
        if (it->second.nSuppressed > 0) summaryS.push_back(summary(it->first, it->second.nSuppressed));
        it = _sourceS.erase(it);
    }
    if (_all.nSuppressed > 0 && tNow - _all.tStart >= tWindow) {
        summaryS.push_back(summary("all sources together", _all.nSuppressed));
        _all = Window();
    }
    return summaryS;
}

void LogThrottle::forgetOldestHalf()
{
    std::vector<std::chrono::steady_clock::time_point> startS;
    startS.reserve(_sourceS.size());
    for (const auto& entry : _sourceS)
        startS.push_back(entry.second.tStart);
    std::nth_element(startS.begin(), startS.begin() + long(startS.size() / 2), startS.end());
    const auto tCut = startS[startS.size() / 2];
    for (auto it = _sourceS.begin(); it != _sourceS.end();) {
        if (it->second.tStart > tCut) {
            ++it;
            continue;
        }
        _all.nSuppressed += it->second.nSuppressed;
        it = _sourceS.erase(it);
    }
}

std::string LogThrottle::summary(const std::string& strSource, int nSuppressed) const
{
    return std::to_string(nSuppressed) + " more " + _strWhat + " from " + strSource +
           " not logged one by one (too many in " + std::to_string(nWindowSeconds) + " seconds)";
}

} // namespace Corvel
