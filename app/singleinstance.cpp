#include "app/singleinstance.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>

#include <unistd.h>

namespace {
constexpr int kSegmentBytes = 4;
constexpr qint64 kHandOverGiveUpMs = 2000;
constexpr unsigned long kHandOverRetryMs = 1;
} // namespace

SingleInstance::SingleInstance(const QString &key)
    : memory(key + QLatin1Char('-') + QString::number(::getuid()))
{
}

SingleInstance::Claim SingleInstance::claim()
{
    if (memory.create(kSegmentBytes, QSharedMemory::ReadWrite))
        return Claim::Claimed;
    if (memory.error() != QSharedMemory::AlreadyExists)
        return Claim::Failed;
    // A System V segment outlives a process that was killed. Attaching and
    // detaching again removes it when nobody else is attached, so only a
    // living instance keeps the key.
    if (memory.attach())
        memory.detach();
    if (memory.create(kSegmentBytes, QSharedMemory::ReadWrite))
        return Claim::Claimed;
    return memory.error() == QSharedMemory::AlreadyExists ? Claim::AlreadyRunning : Claim::Failed;
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
