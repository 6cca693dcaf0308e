#include "app/singleinstance.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>

#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
constexpr qint64 kHandOverGiveUpMs = 2000;
constexpr unsigned long kHandOverRetryMs = 1;
} // namespace

SingleInstance::SingleInstance(const QString &key)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    path = dir + QLatin1Char('/') + key + QStringLiteral(".lock");
}

SingleInstance::~SingleInstance()
{
    if (fd >= 0)
        ::close(fd); // releases the lock
}

SingleInstance::Claim SingleInstance::claim()
{
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return Claim::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Claim::Claimed;
    const int cause = errno;
    error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(cause));
    ::close(fd);
    fd = -1;
    return cause == EWOULDBLOCK ? Claim::AlreadyRunning : Claim::Failed;
}

void handOverToRunningInstance(const QString &markerPath)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QFile file(markerPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
            QTextStream(&file) << "1";
            return;
        }
        qWarning() << "errorString" << file.errorString();
        if (timer.elapsed() >= kHandOverGiveUpMs)
            return;
        QThread::msleep(kHandOverRetryMs);
    }
}
