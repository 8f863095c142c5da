#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
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
    std::unique_lock<std::mutex> lock(_mx);
    if (nMilliseconds < 0) nMilliseconds = 0;
    if (!_cv.wait_for(lock, std::chrono::milliseconds(nMilliseconds), [this] { return _uCount > 0; }))
        return false;
    --_uCount;
    return true;
}

void Semaphore::signal(bool bAll)
{
    {
        std::lock_guard<std::mutex> lock(_mx);
        ++_uCount;
    }
    if (bAll)
        _cv.notify_all();
    else
        _cv.notify_one();
}

void Semaphore::reset()
{
    std::lock_guard<std::mutex> lock(_mx);
    _uCount = 0;
}

// ---- EventLogger ---------------------------------------------------------

namespace {

// Guards g_sink and the writing of lines, so that concurrent events never mix.
std::mutex g_mxLog;
EventLogger::Sink g_sink;
EventLogger::Level g_level = EventLogger::levelInfo;

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
    std::lock_guard<std::mutex> lock(g_mxLog);
    g_level = level;
}

EventLogger::Level EventLogger::level()
{
    std::lock_guard<std::mutex> lock(g_mxLog);
    return g_level;
}

void EventLogger::setSink(Sink sink)
{
    std::lock_guard<std::mutex> lock(g_mxLog);
    g_sink = std::move(sink);
}

void EventLogger::log(Level level, const std::string& strText, int nLayer)
{
    std::string strLine = timestamp() + " " + levelName(level) + " [" + _strName + "] (layer " +
                          std::to_string(nLayer) + ") ";
    strLine.reserve(strLine.size() + strText.size());
    for (char c : strText) {
        if (c == '\n')
            strLine += "\\n";
        else if (c == '\r')
            strLine += "\\r";
        else
            strLine += c;
    }
    std::lock_guard<std::mutex> lock(g_mxLog);
    if (level > g_level) return;
    if (g_sink) {
        g_sink(strLine);
    } else {
        strLine += '\n';
        fwrite(strLine.data(), 1, strLine.size(), stderr);
    }
}

} // namespace Corvel
