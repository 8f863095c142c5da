// The tools' password prompt on a real pseudo-terminal: echo stays off across Ctrl-Z and fg.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "../../tools/EchoOff.h"

namespace {

bool echoes(int fd)
{
    struct termios mode;
    return ::tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

// Waits up to two seconds for the terminal's echo to become bEcho.
bool becomes(int fd, bool bEcho)
{
    for (int i = 0; i < 200 && echoes(fd) != bEcho; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return echoes(fd) == bEcho;
}

} // namespace

TEST(EchoOff, StoppedAndContinuedPromptGoesOnWithoutEcho)
{
    const int fdMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(fdMaster, 0);
    ASSERT_EQ(0, ::grantpt(fdMaster));
    ASSERT_EQ(0, ::unlockpt(fdMaster));
    const int fd = ::open(::ptsname(fdMaster), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(echoes(fd));
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A group of its own, whose parent is in another group of the session: Ctrl-Z stops it.
        ::setpgid(0, 0);
        ostreltools::EchoOff echoOff(fd);
        for (;;)
            ::pause();
    }
    // Gone however the test ends.
    struct Reaped {
        pid_t pid;
        ~Reaped()
        {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
        }
    } child{pid};
    EXPECT_TRUE(becomes(fd, false));
    int nStatus = 0;
    // Twice: the second Ctrl-Z must find the prompt's handler again.
    for (int nStop = 0; nStop < 2; ++nStop) {
        ::kill(pid, SIGTSTP);
        pid_t waited = 0;
        for (int i = 0; i < 200 && (waited = ::waitpid(pid, &nStatus, WUNTRACED | WNOHANG)) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(pid, waited) << "the prompt did not stop";
        EXPECT_TRUE(WIFSTOPPED(nStatus));
        EXPECT_TRUE(echoes(fd));  // the shell gets its terminal back as it was
        ::kill(pid, SIGCONT);
        EXPECT_TRUE(becomes(fd, false));
    }
    // Ended by another signal, the terminal is left as it was found.
    ::kill(pid, SIGTERM);
    ASSERT_EQ(pid, ::waitpid(pid, &nStatus, 0));
    child.pid = 0;
    EXPECT_TRUE(WIFSIGNALED(nStatus));
    EXPECT_TRUE(echoes(fd));
    ::close(fd);
    ::close(fdMaster);
}
