// Fuzzes the settings file: its bytes through the parser and the check that
// puts every value back in its range.

#include "fuzz_check.h"
#include "worker/settingsfiles.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = (qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}), true);
    if (!quiet || size > 64 * 1024)
        return 0;
    QVariantMap settings;
    if (!settingsfiles::parseSettings(QByteArray(reinterpret_cast<const char *>(data), int(size)), &settings))
        return fuzz::check(settings.isEmpty(), "a refused file left settings behind"), 0;
    const QStringList repaired = settingsfiles::repairSettings(settings);
    fuzz::check(QStringList(repaired).removeDuplicates() == 0, "a key repaired twice");
    // What the check left is in range: a second check finds nothing.
    QVariantMap again = settings;
    fuzz::check(settingsfiles::repairSettings(again).isEmpty() && again == settings, "repaired settings still out of range");
    for (const QString &key : repaired)
        fuzz::check(settings.value(key) == settingsfiles::defaultSettings().value(key), "a repaired key without its default");
    return 0;
}
