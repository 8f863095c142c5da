#ifndef CORVEL_EVENTLOGGER_H
#define CORVEL_EVENTLOGGER_H

#include <functional>
#include <string>

#include "Corvel/Export.h"

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

private:
    void log(Level level, const std::string& strText, int nLayer);

    std::string _strName;
};

} // namespace Corvel

#endif
