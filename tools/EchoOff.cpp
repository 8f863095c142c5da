#include "EchoOff.h"

#include <errno.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace ostreltools {

namespace {

// The terminal whose echo is off, for the signal handler to restore; -1 when none.
volatile sig_atomic_t g_fdTerminal = -1;
struct termios g_termiosSaved;
struct termios g_termiosQuiet;

const int anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void restoreAndRaise(int nSignal);

void install(int nSignal, struct sigaction* poldAction)
{
    struct sigaction action;
    ::memset(&action, 0, sizeof action);
    action.sa_handler = restoreAndRaise;
    // None of them inside another's handler: a stop there would turn echo off again on the way out.
    ::sigemptyset(&action.sa_mask);
    for (int nOther : anSignals)
        ::sigaddset(&action.sa_mask, nOther);
    ::sigaction(nSignal, &action, poldAction);
}

// Ctrl-Z stops the program here, with the terminal as it was; when it goes on (fg), echo goes off
// again before the rest of the password is typed. The other signals end the program.
void restoreAndRaise(int nSignal)
{
    const int nErrno = errno;
    if (g_fdTerminal >= 0)
        ::tcsetattr(g_fdTerminal, TCSAFLUSH, &g_termiosSaved);
    ::signal(nSignal, SIG_DFL);
    sigset_t signalS;
    ::sigemptyset(&signalS);
    ::sigaddset(&signalS, nSignal);
    ::raise(nSignal);
    ::sigprocmask(SIG_UNBLOCK, &signalS, nullptr);
    if (nSignal == SIGTSTP) {
        install(SIGTSTP, nullptr);
        if (g_fdTerminal >= 0)
            ::tcsetattr(g_fdTerminal, TCSAFLUSH, &g_termiosQuiet);
    }
    errno = nErrno;
}

} // namespace

static_assert(sizeof anSignals / sizeof anSignals[0] == 5, "EchoOff::nSignals");

EchoOff::EchoOff(int fd) : _fd(fd)
{
    if (::tcgetattr(fd, &g_termiosSaved) != 0)
        return;
    for (int i = 0; i < nSignals; ++i)
        install(anSignals[i], &_oldActionS[i]);
    g_termiosQuiet = g_termiosSaved;
    g_termiosQuiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    g_fdTerminal = fd;
    ::tcsetattr(fd, TCSAFLUSH, &g_termiosQuiet);
}

EchoOff::~EchoOff()
{
    if (g_fdTerminal < 0)
        return;
    // Held back meanwhile: a Ctrl-Z between the restore and the forgetting would turn echo off
    // again after fg. They arrive afterwards, to the actions they had before.
    sigset_t signalS, oldS;
    ::sigemptyset(&signalS);
    for (int nSignal : anSignals)
        ::sigaddset(&signalS, nSignal);
    ::sigprocmask(SIG_BLOCK, &signalS, &oldS);
    ::tcsetattr(_fd, TCSAFLUSH, &g_termiosSaved);
    g_fdTerminal = -1;
    for (int i = 0; i < nSignals; ++i)
        ::sigaction(anSignals[i], &_oldActionS[i], nullptr);
    ::sigprocmask(SIG_SETMASK, &oldS, nullptr);
}

} // namespace ostreltools
