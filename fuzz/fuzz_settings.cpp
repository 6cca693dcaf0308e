// Fuzzes the settings file: its bytes through the parser and the check that
// puts every value back in its range.

#include "fuzz_check.h"
#include "worker/settingsfiles.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

struct Quiet {
    Quiet() { qInstallMessageHandler(quiet); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Quiet quietLog;
    if (size > 64 * 1024)
        return 0; // QByteArray holds an int's worth; settings are a few hundred bytes
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QVariantMap settings;
    if (!settingsfiles::parseSettings(bytes, &settings)) {
        fuzz::check(settings.isEmpty(), "a refused file left settings behind");
        return 0;
    }
    const QStringList repaired = settingsfiles::repairSettings(settings);
    fuzz::check(QStringList(repaired).removeDuplicates() == 0, "a key repaired twice");
    // What the check left is in range: a second check finds nothing.
    QVariantMap again = settings;
    fuzz::check(settingsfiles::repairSettings(again).isEmpty(), "repaired settings still out of range");
    fuzz::check(again == settings, "a second check changed the settings");
    const QVariantMap defaults = settingsfiles::defaultSettings();
    for (const QString &key : repaired)
        fuzz::check(settings.value(key) == defaults.value(key), "a repaired key does not hold its default");
    return 0;
}
