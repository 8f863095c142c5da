#ifndef OSTRELDAL_STATEMENTECHO_H
#define OSTRELDAL_STATEMENTECHO_H

#include <string>

#include "OstrelDal/Export.h"

namespace OstrelDal {

// Where the data-access layer's trace lines go: every statement a query class runs, written before
// it runs, and the traces of the database-backed factory. Standard output unless a program says
// otherwise; a daemon usually turns it off or sends it to its event log.
enum EchoMode {
    echoStdout = 0,  // one line per trace on standard output, flushed
    echoLogger = 1,  // Corvel::EventLogger::theLogger(), info level, database layer
    echoOff = 2      // nothing; statements are then not even rendered for the trace
};

// Process-wide; may be changed at any time from any thread.
OSTRELDAL_API void setStatementEcho(EchoMode mode);
OSTRELDAL_API EchoMode statementEcho();

// Writes one trace line where the echo mode says (nothing when it is off). Lines written by
// concurrent threads never mix within a line.
OSTRELDAL_API void trace(const std::string& strLine);

} // namespace OstrelDal

#endif
