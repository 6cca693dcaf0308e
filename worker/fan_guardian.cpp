// The fan guardian: a second process of the same executable that holds one
// end of a socket pair. The program tells it over the socket whether the fan
// is with the card's microcontroller; when it closes (the program ended,
// however it ended) and the fan was, the guardian gives it back to the GPU
// through the same device the program used. No privileges are involved.

#include "worker/backends.h"

#include "mcu/card_mcu.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace worker {
namespace {

constexpr char kArmed = 'A';
constexpr char kDisarmed = 'D';
// The card's device is the program's alone until the program's end has been
// noticed on the other side of it: a busy device is tried again, within the
// few seconds the fan may stay unwatched.
constexpr int kGiveBackAttempts = 20;
constexpr unsigned kGiveBackRetryUs = 100 * 1000;
// The descriptor number the guardian finds its socket under.
constexpr int kGuardianFd = 3;

class FanGuardian final : public FanGuard {
public:
    ~FanGuardian() override
    {
        if (writeFd >= 0)
            ::close(writeFd); // the guardian ends on its own when it reads the close
        if (child > 0)
            reap(false);
    }

    void setArmed(bool armed) override
    {
        if (armed == isArmed)
            return;
        // A guardian that went away (somebody killed it) is replaced once.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (writeFd < 0 && (!armed || !spawn()))
                return;
            if (tell(armed ? kArmed : kDisarmed)) {
                isArmed = armed;
                return;
            }
            qWarning().noquote() << "Fan guardian unreachable:" << qt_error_string(errno);
            ::close(writeFd);
            writeFd = -1;
            reap(true);
        }
    }

private:
    // A socket, not a pipe: a write to a guardian that is gone must fail
    // with an error, not end the program with SIGPIPE.
    bool tell(char byte)
    {
        ssize_t n;
        do
            n = ::send(writeFd, &byte, 1, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n == 1;
    }

    bool spawn()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            qWarning().noquote() << "No fan guardian (socket):" << qt_error_string(errno);
            return false;
        }
        // The running executable itself, even when a newer one has been
        // installed over its file since the start.
        const char exe[] = "/proc/self/exe";
        const QByteArray fdText = QByteArray::number(kGuardianFd);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // dup2 leaves the copy open across exec; every other descriptor of
        // the program is close-on-exec or closed by the guardian's exec.
        posix_spawn_file_actions_adddup2(&actions, fds[0], kGuardianFd);
        const QByteArray name = QFile::encodeName(QCoreApplication::applicationFilePath());
        char *argv[] = {const_cast<char *>(name.isEmpty() ? exe : name.constData()),
                        const_cast<char *>(kFanGuardianArgument), const_cast<char *>(fdText.constData()), nullptr};
        const int rc = posix_spawn(&child, exe, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        if (rc != 0) {
            qWarning().noquote() << "No fan guardian (spawn):" << qt_error_string(rc);
            ::close(fds[1]);
            child = -1;
            return false;
        }
        writeFd = fds[1];
        qInfo().noquote() << "Fan guardian started, process" << child;
        return true;
    }

    void reap(bool kill)
    {
        if (kill)
            ::kill(child, SIGKILL);
        // Without waiting: a guardian busy giving the fan back is left to it,
        // and init takes the child over when the program ends.
        ::waitpid(child, nullptr, WNOHANG);
        child = -1;
    }

    int writeFd = -1;
    pid_t child = -1;
    bool isArmed = false;
};

} // namespace

std::unique_ptr<FanGuard> makeFanGuardian() { return std::make_unique<FanGuardian>(); }

int runFanGuardian(int socketFd, const std::string &devicePath)
{
    // The terminal's Ctrl+C or hang-up reaches the whole process group; the
    // program gives the fan back itself then, and the guardian must stay
    // until it has seen the program go.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    // Whoever read the program's output may be gone with it: a message is
    // not worth dying over.
    std::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_NAME, "tarvell-fanguard");
    bool armed = false;
    for (;;) {
        char byte = 0;
        const ssize_t n = ::read(socketFd, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != 1)
            break; // the program is gone
        if (byte == kArmed)
            armed = true;
        else if (byte == kDisarmed)
            armed = false;
    }
    ::close(socketFd);
    if (!armed)
        return 0;
    mcu::CardMcu card(devicePath);
    int r = 0;
    for (int attempt = 0; attempt < kGiveBackAttempts && r != mcu::kSwitchCommands; ++attempt) {
        if (attempt > 0)
            ::usleep(kGiveBackRetryUs);
        r = card.I2C_Switch_GPU_MCU_Control(1);
    }
    std::fprintf(stderr, "fan guardian: the program ended while the fan curve had the fan; %s\n",
                 r == mcu::kSwitchCommands ? "the fan is back with the GPU" : "the card did not take the switch to the GPU");
    return r == mcu::kSwitchCommands ? 0 : 1;
}

} // namespace worker
