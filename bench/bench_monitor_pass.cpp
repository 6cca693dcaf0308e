// What one monitoring pass costs the CPU: the worker refreshes GPU telemetry
// and system facts about once a second for as long as the Monitor page is
// open. Measured against a baseline taken in the same run: reading the same
// sysfs files directly, which is the least any refresh has to do.
//
// Loads the stand-in control library of its own build tree, as the program does.

#include "sim/sysfs/sysfs_sim.h"
#include "worker/backends.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kPasses = 200;

// The files a refresh reads its moving values from.
QStringList movingFiles(const sim::SysfsSim &card)
{
    QStringList files;
    QDirIterator it(card.hwmonDir(), {"*_input"}, QDir::Files);
    while (it.hasNext())
        files << it.next();
    files << card.gpuDir() + "/tile0/gt0/freq0/act_freq"
          << card.gpuDir() + "/tile0/gt0/gtidle/idle_residency_ms";
    return files;
}

double baselineMicros(const QStringList &files)
{
    QElapsedTimer t;
    t.start();
    qint64 bytes = 0;
    for (int i = 0; i < kPasses; ++i) {
        for (const QString &path : files) {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                bytes += f.readAll().size();
        }
    }
    if (bytes == 0)
        std::fprintf(stderr, "baseline read nothing\n");
    return double(t.nsecsElapsed()) / 1000.0 / kPasses;
}

double refreshMicros(int *cards)
{
    auto gpu = worker::makeGpuBackend();
    auto system = worker::makeSystemBackend();
    QVariantMap facts, reply;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kPasses; ++i) {
        gpu->getGpuInformation(facts, reply);
        system->cpuInfo();
        system->memoryInfo(facts);
        system->motherboardInfo(facts);
    }
    *cards = reply.value(QStringLiteral("GPU_count")).toInt();
    return double(t.nsecsElapsed()) / 1000.0 / kPasses;
}

} // namespace

int main()
{
    QTemporaryDir dir(QDir::tempPath() + "/tarvell-bench-XXXXXX");
    sim::SysfsSim card(dir.path());
    if (!card.publish()) {
        std::fprintf(stderr, "cannot publish a simulated card in %s\n", qPrintable(dir.path()));
        return 1;
    }
    qputenv("CTL_SYSFS_ROOT", dir.path().toUtf8());

    // The refresh logs every reading; only the results should reach the terminal.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, STDOUT_FILENO);

    const double baseline = baselineMicros(movingFiles(card));
    int cards = 0;
    const double refresh = refreshMicros(&cards);

    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    ::close(devNull);
    std::printf("monitoring pass: %.1f us (cards recognised: %d)\n", refresh, cards);
    std::printf("baseline, the same sysfs files read directly: %.1f us\n", baseline);
    std::printf("ratio: %.1f\n", refresh / baseline);
    return cards == 1 ? 0 : 1;
}
