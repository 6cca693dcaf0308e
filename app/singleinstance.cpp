#include "app/singleinstance.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>

namespace {
constexpr int kSegmentBytes = 4;
constexpr qint64 kHandOverGiveUpMs = 2000;
constexpr unsigned long kHandOverRetryMs = 1;
} // namespace

SingleInstance::SingleInstance(const QString &key) : memory(key) {}

bool SingleInstance::claim()
{
    if (memory.create(kSegmentBytes, QSharedMemory::ReadWrite))
        return true;
    if (memory.error() != QSharedMemory::AlreadyExists)
        return false;
    // A System V segment outlives a process that was killed. Attaching and
    // detaching again removes it when nobody else is attached, so only a
    // living instance keeps the key.
    if (memory.attach())
        memory.detach();
    return memory.create(kSegmentBytes, QSharedMemory::ReadWrite);
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
