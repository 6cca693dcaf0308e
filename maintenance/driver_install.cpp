#include "maintenance/driver_install.h"

#include "platform/unique_fd.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace maintenance {
namespace {

// What the keeper tells the program, one record each: pkexec started (or
// not, with errno), then pkexec's exit code.
struct Record {
    char kind; // 'S' started, 'E' could not start, 'X' ended
    int value;
};

// pkexec's own exit codes for an authentication that did not happen.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorised = 127;

// A fork inherits the program's signal handlers (a crash reporter, the
// clean-exit handlers), which must never run in the keeper, and its mask.
void defaultSignals()
{
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &byDefault, nullptr); // fails harmlessly for SIGKILL, SIGSTOP
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The program may be gone by the time a record is written: a reader that has
// closed the pipe is no error, so the keeper ignores SIGPIPE and the result.
void tell(int fd, const Record &r)
{
    ssize_t n;
    do
        n = ::write(fd, &r, sizeof r);
    while (n < 0 && errno == EINTR);
}

// Only async-signal-safe calls: this runs in the child of a threaded program.
[[noreturn]] void keeperMain(int reportFd, const char *pkexec, char *const argv[])
{
    defaultSignals();
    ::signal(SIGPIPE, SIG_IGN);
    ::setsid();
    int execPipe[2];
    Record r{'E', 0};
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        r.value = errno;
        tell(reportFd, r);
        ::_exit(1);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGPIPE, SIG_DFL); // an ignored signal would stay ignored across exec
        ::execv(pkexec, argv);
        const int e = errno;
        // Should even this fail, the exit status 127 still tells the parent.
        const ssize_t told = ::write(execPipe[1], &e, sizeof e);
        (void)told;
        ::_exit(127);
    }
    ::close(execPipe[1]);
    if (child < 0) {
        r.value = errno;
        tell(reportFd, r);
        ::_exit(1);
    }
    int e = 0;
    ssize_t n;
    do
        n = ::read(execPipe[0], &e, sizeof e);
    while (n < 0 && errno == EINTR);
    tell(reportFd, n == ssize_t(sizeof e) ? Record{'E', e} : Record{'S', 0});
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    tell(reportFd, Record{'X', WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)});
    ::_exit(0);
}

// Next record; false when the keeper is gone without one. When the program
// is ending, a record already written is still taken; only a wait for the
// user (interruptible) gives up, with ending set.
bool readRecord(int fd, Record *r, bool interruptible, bool *ending)
{
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0)
            return ::read(fd, r, sizeof *r) == ssize_t(sizeof *r);
        QThread *self = QThread::currentThread();
        if (interruptible && self && self->isInterruptionRequested()) {
            *ending = true;
            return false;
        }
    }
}

bool fail(QString *failure, const QString &forUser)
{
    if (failure)
        *failure = forUser;
    return false;
}

// Empty when the package and pkexec are in place; otherwise the sentence for
// the user, and the missing piece is logged.
QString missingPiece(const QString &infPath, const QString &installer, const QString &pkexec)
{
    if (!QFileInfo::exists(infPath)) {
        qWarning().noquote() << "INF file does not exist:" << infPath;
        return QStringLiteral("The card's access package was not found beside the program.");
    }
    if (!QFileInfo(installer).isFile()) {
        qWarning().noquote() << "Driver installer does not exist:" << installer;
        return QStringLiteral("The card's access package is incomplete: its installer is missing.");
    }
    if (pkexec.isEmpty() || !QFileInfo(pkexec).isAbsolute() || !QFileInfo(pkexec).isExecutable()) {
        qWarning().noquote() << "Cannot start pkexec for the driver installer: pkexec not found";
        return QStringLiteral("The set-up needs pkexec (polkit) to ask for an administrator "
                              "password, and it is not installed.");
    }
    return {};
}

// Forks the keeper that runs `program script`; its pid, with the read end of
// its report pipe in *report, or -1 when it could not be started.
pid_t startKeeper(const QByteArray &program, const QByteArray &script, platform::UniqueFd *report)
{
    char *const argv[] = {const_cast<char *>(program.constData()),
                          const_cast<char *>(script.constData()), nullptr};
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    platform::UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
    const pid_t keeper = ::fork();
    if (keeper == 0) {
        readEnd.reset();
        keeperMain(writeEnd.get(), program.constData(), argv);
    }
    writeEnd.reset();
    if (keeper < 0)
        return -1;
    report->reset(readEnd.release());
    return keeper;
}

bool judgeExitCode(int code, QString *failure)
{
    if (code == 0)
        return true;
    qWarning().noquote() << "Driver installer through pkexec ended with exit code" << code;
    if (code == kPkexecDismissed || code == kPkexecNotAuthorised)
        return fail(failure, QStringLiteral("The set-up was cancelled: no administrator permission was given."));
    return fail(failure, QStringLiteral("The set-up script failed (error %1); the card's access was not changed.")
                             .arg(code));
}

// Waits for the installer's end, or for the program's, which leaves it running.
bool awaitInstaller(pid_t keeper, platform::UniqueFd *report, QString *failure)
{
    Record r{};
    bool ending = false;
    const bool ok = readRecord(report->get(), &r, true, &ending);
    report->reset();
    if (ending) {
        qDebug().noquote() << "The program ends; the driver set-up goes on.";
        return true;
    }
    ::waitpid(keeper, nullptr, 0);
    if (!ok || r.kind != 'X')
        return fail(failure, QStringLiteral("The set-up ended before it was done."));
    return judgeExitCode(r.value, failure);
}

} // namespace

QString systemPkexec()
{
    for (const char *candidate : {"/usr/bin/pkexec", "/bin/pkexec"}) {
        if (QFileInfo(QString::fromLatin1(candidate)).isExecutable())
            return QString::fromLatin1(candidate);
    }
    return {};
}

QString driverInstallerPath(const QString &infPath)
{
    return QFileInfo(infPath).absolutePath() + QStringLiteral("/install-tarvell-i2c.sh");
}

bool installDriverWithPnPUtil(const QString &infPath, const QString &pkexec, QString *failure)
{
    const QString installer = driverInstallerPath(infPath);
    const QString missing = missingPiece(infPath, installer, pkexec);
    if (!missing.isEmpty())
        return fail(failure, missing);
    platform::UniqueFd report;
    const pid_t keeper = startKeeper(QFile::encodeName(pkexec), QFile::encodeName(installer), &report);
    if (keeper < 0)
        return fail(failure, QStringLiteral("The set-up could not be started."));

    // Whether pkexec started is known right after the keeper's exec, with no
    // one to wait for: the program learns it even when it is ending, so it
    // never calls a set-up started that never was.
    Record r{};
    bool ending = false;
    const bool ok = readRecord(report.get(), &r, false, &ending);
    if (!ok || r.kind != 'S') {
        report.reset();
        ::waitpid(keeper, nullptr, 0);
        qWarning().noquote() << "Cannot start pkexec for the driver installer:" << installer
                             << (ok ? qt_error_string(r.value) : QString());
        return fail(failure, QStringLiteral("The set-up could not be started."));
    }
    return awaitInstaller(keeper, &report, failure);
}

} // namespace maintenance
