#pragma once
// An in-process stand-in for the card's peripheral driver. It journals every
// request in the simulator's log format ("OPEN 0", "W 00 E3 00",
// "WR 82 -> 34 12"), answers write-reads from a register table and can fail
// chosen requests, so the tests see exactly what an operation sent and when
// it paused.

#include "platform/overlapped.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace cardtest {

struct FakeCard {
    QStringList journal;
    // Write-read replies by register byte; a register not listed answers with
    // as many zero bytes as were asked for.
    QMap<quint8, QByteArray> replies;
    // Requests whose journal line starts with this text fail with failError.
    QString failPrefix;
    std::uint32_t failError = platform::kErrorGenFailure;
    // When set, opening the device fails with this error.
    std::uint32_t openError = 0;
    int devicesOpen = 0;
};

// Routes every device open of this process to card until the guard ends.
class FakeCardInstaller {
public:
    explicit FakeCardInstaller(std::shared_ptr<FakeCard> card);
    ~FakeCardInstaller();
    FakeCardInstaller(const FakeCardInstaller &) = delete;
    FakeCardInstaller &operator=(const FakeCardInstaller &) = delete;
};

QString hexBytes(const QByteArray &bytes);
// "FF 00 80" repeated n times, joined by blanks.
QString repeatedTriple(const QString &triple, int n);

} // namespace cardtest
