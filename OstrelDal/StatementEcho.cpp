#include "OstrelDal/StatementEcho.h"

#include <atomic>
#include <iostream>

#include "Corvel/EventLogger.h"
#include "Corvel/Mutex.h"

namespace OstrelDal {

namespace {

std::atomic<int> g_nEchoMode{echoStdout};

// Keeps each line whole when several threads trace at once (each line is also one write, so the
// pool's own line cannot split it either).
Corvel::Mutex g_mxStdout;

} // namespace

void setStatementEcho(EchoMode mode)
{
    g_nEchoMode.store(mode, std::memory_order_relaxed);
}

EchoMode statementEcho()
{
    return static_cast<EchoMode>(g_nEchoMode.load(std::memory_order_relaxed));
}

void trace(const std::string& strLine)
{
    switch (statementEcho()) {
    case echoStdout: {
        Corvel::MutexLock lock(g_mxStdout);
        std::cout << (strLine + "\n") << std::flush;
        break;
    }
    case echoLogger:
        Corvel::EventLogger::theLogger().logInfo(strLine, Corvel::layerDatabase);
        break;
    case echoOff:
        break;
    }
}

} // namespace OstrelDal
