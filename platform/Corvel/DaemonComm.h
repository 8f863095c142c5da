#ifndef CORVEL_DAEMONCOMM_H
#define CORVEL_DAEMONCOMM_H

#include <memory>
#include <string>

#include "Corvel/Export.h"

namespace Corvel {

// A client's message link to a daemon. Every message received is handed to the
// handler on the link's own receive thread.
class CORVEL_API DaemonComm {
public:
    enum Status { error = -1, response = 0, unsolicited = 1 };
    typedef void (*Handler)(Status status, const std::string& strMessage);

    explicit DaemonComm(Handler handler);
    virtual ~DaemonComm();
    DaemonComm(const DaemonComm&) = delete;
    DaemonComm& operator=(const DaemonComm&) = delete;

    // Resolves strService (for daemon strDaemon) and fills strHost; the other
    // three out-values are scratch space the caller does not read.
    virtual void locateService(std::string& strScratch1, std::string& strScratch2, std::string& strHost,
                               int& nScratch, const std::string& strService, const std::string& strDaemon);
    // Each throws Corvel::Exception on failure.
    void connect();
    void disconnect();
    void send(const std::string& strMessage);

private:
    struct Impl;
    std::unique_ptr<Impl> _pimpl;
};

} // namespace Corvel

#endif
