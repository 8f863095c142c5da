#ifndef OSTREL_TOOLS_ECHOOFF_H
#define OSTREL_TOOLS_ECHOOFF_H

#include <signal.h>

namespace ostreltools {

// While alive, the terminal fd does not echo what is typed; its old settings come back at the end
// of the scope, or on a signal that ends the program (Ctrl-C at a password prompt must not leave
// the user's shell without echo). One at a time per process.
class EchoOff {
public:
    explicit EchoOff(int fd);
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    static constexpr int nSignals = 5;
    int _fd;
    struct sigaction _oldActionS[nSignals];
};

} // namespace ostreltools

#endif
