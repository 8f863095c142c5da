#ifndef CORVEL_EVENTLOGGER_H
#define CORVEL_EVENTLOGGER_H

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Corvel/Export.h"
#include "Corvel/Mutex.h"

namespace Corvel {

// Where in the system an event comes from.
enum Layer {
    layerSystem = 0,
    layerApplication = 1,
    layerService = 2,
    layerSecurity = 3,
    layerPlugin = 4,
    layerDatabase = 5
};

// Writes events as single timestamped lines:
//   2026-12-08T03:43:30.123Z ERROR [name] (layer 5) text
// Line feeds inside the text are written as "\n" so that one event stays one line.
class CORVEL_API EventLogger {
public:
    enum Level { levelError = 0, levelWarning = 1, levelInfo = 2, levelDebug = 3 };
    using Sink = std::function<void(const std::string& strLine)>;

    explicit EventLogger(const std::string& strName);
    virtual ~EventLogger();

    // The process's default logger, named "Ostrel".
    static EventLogger& theLogger();

    void logError(const std::string& strText, int nLayer);
    void logWarning(const std::string& strText, int nLayer);
    void logInfo(const std::string& strText, int nLayer);
    void logDebug(const std::string& strText, int nLayer);

    const std::string& name() const { return _strName; }

    // Process-wide: events above this level are dropped (default levelInfo).
    static void setLevel(Level level);
    static Level level();
    // Process-wide: where lines go; an empty sink restores standard error.
    static void setSink(Sink sink);

    // Text a client chose, as it may enter a line: at most 128 bytes, marked when cut. (Every
    // line has its control bytes and backslashes escaped anyway.)
    static std::string clip(const std::string& strClientText);

private:
    void log(Level level, const std::string& strText, int nLayer);

    std::string _strName;
};

// Lines of one kind from one source logged one by one up to a number a minute, the rest counted
// and summed up in one line: a source that fails without end does not fill the disk.
class CORVEL_API LogThrottle {
public:
    static constexpr int nPerWindow = 20;        // from one source
    static constexpr int nAllPerWindow = 200;    // from all sources together
    static constexpr int nWindowSeconds = 60;

    // strWhat names the lines in summaries ("failures and refusals").
    explicit LogThrottle(const std::string& strWhat) : _strWhat(strWhat) {}

    // Whether this line of strSource is logged; strSummary gets the summary of the source's last
    // window when one is due.
    bool admit(const std::string& strSource, std::string& strSummary);
    // The summaries of windows that are over (and forgets them).
    std::vector<std::string> flush();

private:
    struct Window {
        std::chrono::steady_clock::time_point tStart;
        int nCount = 0;
        int nSuppressed = 0;
    };
    static constexpr size_t nMaxSources = 4096;
    std::string summary(const std::string& strSource, int nSuppressed) const;
    // Bounded however many sources there are: the half whose windows began first goes, what they
    // held back counted in the summary of all sources.
    void forgetOldestHalf() CORVEL_REQUIRES(_mx);

    const std::string _strWhat;
    Mutex _mx;
    std::map<std::string, Window> _sourceS CORVEL_GUARDED_BY(_mx);
    Window _all CORVEL_GUARDED_BY(_mx);  // every source together
};

} // namespace Corvel

#endif
