#include "EchoOff.h"

#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace ostreltools {

namespace {

// The terminal whose echo is off, for the signal handler to restore; -1 when none.
volatile sig_atomic_t g_fdTerminal = -1;
struct termios g_termiosSaved;

const int anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void restoreAndRaise(int nSignal)
{
    if (g_fdTerminal >= 0)
        ::tcsetattr(g_fdTerminal, TCSAFLUSH, &g_termiosSaved);
    ::signal(nSignal, SIG_DFL);
    ::raise(nSignal);
}

} // namespace

static_assert(sizeof anSignals / sizeof anSignals[0] == 5, "EchoOff::nSignals");

EchoOff::EchoOff(int fd) : _fd(fd)
{
    if (::tcgetattr(fd, &g_termiosSaved) != 0)
        return;
    struct sigaction action;
    ::memset(&action, 0, sizeof action);
    action.sa_handler = restoreAndRaise;
    ::sigemptyset(&action.sa_mask);
    for (int i = 0; i < nSignals; ++i)
        ::sigaction(anSignals[i], &action, &_oldActionS[i]);
    struct termios quiet = g_termiosSaved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    g_fdTerminal = fd;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
}

EchoOff::~EchoOff()
{
    if (g_fdTerminal < 0)
        return;
    ::tcsetattr(_fd, TCSAFLUSH, &g_termiosSaved);
    g_fdTerminal = -1;
    for (int i = 0; i < nSignals; ++i)
        ::sigaction(anSignals[i], &_oldActionS[i], nullptr);
}

} // namespace ostreltools
