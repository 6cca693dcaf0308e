// Fuzzes the update manifest, as it comes from the server, through its parser
// and the escaping of its texts for the log.

#include "fuzz_check.h"
#include "maintenance/http_stream.h"
#include "maintenance/json_keys.h"
#include "maintenance/update_client.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>

namespace {

// Nothing that could end or rewrite a log line survives the escaping.
void checkLoggable(const QString &text)
{
    for (const QChar c : maintenance::loggable(text)) {
        const ushort u = c.unicode();
        fuzz::check(u >= 0x20 && !(u >= 0x7f && u < 0xa0) && c.category() != QChar::Other_Format
                        && c.category() != QChar::Separator_Line && c.category() != QChar::Separator_Paragraph,
                    "a control, format or line separator character reached the log");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = (qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}), true);
    if (!quiet || size > 256 * 1024)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    const QMap<QString, QVariantList> manifest = maintenance::parseManifest(body);
    if (maintenance::hasDuplicateKeys(body))
        return fuzz::check(manifest.isEmpty(), "a manifest naming a key twice was read"), 0;
    const QJsonObject root = QJsonDocument::fromJson(body).object();
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it) {
        fuzz::check(root.value(it.key()).toArray().size() == it.value().size(), "a category that is no array of the document");
        checkLoggable(it.key());
        for (const QVariant &element : it.value()) {
            const QVariantMap entry = element.toMap();
            for (const QVariant &field : entry)
                checkLoggable(field.toString());
            // The version names the installer's file, which stays in its folder.
            const QString saved = maintenance::installerSavePath("/d", entry.value("version").toString());
            fuzz::check(saved.isEmpty() || (saved.lastIndexOf('/') == 2 && QDir::cleanPath(saved).startsWith("/d/")),
                        "a version that reaches outside the download folder");
        }
    }
    return 0;
}
