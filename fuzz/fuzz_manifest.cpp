// Fuzzes the update manifest, as it comes from the server, through its parser
// and the escaping of its texts for the log.

#include "fuzz_check.h"
#include "maintenance/http_stream.h"
#include "maintenance/json_keys.h"
#include "maintenance/update_client.h"

#include <QByteArray>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

#include <cstdint>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

struct Quiet {
    Quiet() { qInstallMessageHandler(quiet); }
};

// Nothing that could end or rewrite a log line survives the escaping.
void checkLoggable(const QString &text)
{
    const QString shown = maintenance::loggable(text);
    fuzz::check(shown.size() <= 300 * 6 + 3, "a logged text longer than its cut");
    for (const QChar c : shown) {
        const ushort u = c.unicode();
        fuzz::check(u >= 0x20 && !(u >= 0x7f && u < 0xa0), "a control character reached the log");
        fuzz::check(c.category() != QChar::Other_Format && c.category() != QChar::Separator_Line
                        && c.category() != QChar::Separator_Paragraph,
                    "a format or line separator reached the log");
    }
}

void checkValue(const QVariant &value)
{
    if (value.type() == QVariant::String)
        checkLoggable(value.toString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Quiet quietLog;
    if (size > 256 * 1024)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    const QMap<QString, QVariantList> manifest = maintenance::parseManifest(body);
    if (maintenance::hasDuplicateKeys(body)) {
        fuzz::check(manifest.isEmpty(), "a manifest naming a key twice was read");
        return 0;
    }
    // Every category is an array of the document's top object.
    const QJsonObject root = QJsonDocument::fromJson(body).object();
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it) {
        fuzz::check(root.value(it.key()).isArray(), "a category that is no array");
        fuzz::check(root.value(it.key()).toArray().size() == it.value().size(), "entries lost or invented");
        checkLoggable(it.key());
        for (const QVariant &element : it.value()) {
            const QVariantMap entry = element.toMap();
            for (auto field = entry.cbegin(); field != entry.cend(); ++field)
                checkValue(field.value());
            // The version names the installer's file, which stays in its folder.
            const QString version = entry.value(QStringLiteral("version")).toString();
            const QString saved = maintenance::installerSavePath(QStringLiteral("/d"), version);
            if (!saved.isEmpty()) {
                fuzz::check(saved.lastIndexOf(QLatin1Char('/')) == 2, "a version that reaches another folder");
                fuzz::check(QDir::cleanPath(saved).startsWith(QLatin1String("/d/")), "a save path outside its folder");
            }
        }
    }
    return 0;
}
