// The settings file, the version file and the show-window marker, as they
// are found on disk after real use and hand edits.

#include "worker/settingsfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {
QStringList g_messages;
void capture(QtMsgType, const QMessageLogContext &, const QString &msg) { g_messages << msg; }

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class SettingsFilesTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path;

private slots:
    void init()
    {
        path = dir.filePath(QStringLiteral("userData.json"));
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        g_messages.clear();
        qInstallMessageHandler(capture);
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void missingFileGivesTheThirteenDefaults()
    {
        const QVariantMap s = settingsfiles::readSettings(path);
        QCOMPARE(s.size(), 13);
        QCOMPARE(s.value("r_hex").toString(), QStringLiteral("fb"));
        QCOMPARE(s.value("speed").toString(), QStringLiteral("FE"));
        QCOMPARE(s.value("FanControlMode").toString(), QStringLiteral("GPU"));
        QCOMPARE(s.value("fanSpeed").toInt(), 100);
        QVERIFY(!s.contains("appVersion"));
        QVERIFY(g_messages.first().startsWith("File does not exist: "));
    }

    void writtenFormatIsOneElementArraySortedIndentedWithNulls()
    {
        QVariantMap s{{"speed", "FE"}, {"ARGBSliderSpeed", 5}, {"displayMode", QVariant()}};
        settingsfiles::writeSettings({s}, path);
        const QByteArray text = readFile(path);
        QCOMPARE(text, QByteArray("[\n    {\n        \"ARGBSliderSpeed\": 5,\n"
                                  "        \"displayMode\": null,\n"
                                  "        \"speed\": \"FE\"\n    }\n]\n"));
        QVERIFY(!QFile::exists(path + ".invalid"));
    }

    void singleObjectAndArraysOfObjects_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expectedRed");
        QTest::addColumn<int>("expectedSize");
        QTest::newRow("single object") << QByteArray(R"({"r_hex":"aa","fanSpeed":50})") << "aa" << 2;
        QTest::newRow("two objects, last wins")
            << QByteArray(R"([{"r_hex":"aa"},{"r_hex":"bb","g_hex":"00"}])") << "bb" << 2;
        QTest::newRow("array without objects") << QByteArray("[1, \"x\"]") << "" << 0;
        QTest::newRow("objects among values") << QByteArray(R"([{"r_hex":"cc"}, 3])") << "cc" << 1;
    }
    void singleObjectAndArraysOfObjects()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expectedRed);
        QFETCH(int, expectedSize);
        writeFile(path, content);
        const QVariantMap s = settingsfiles::readSettings(path);
        QCOMPARE(s.value("r_hex").toString(), expectedRed);
        QCOMPARE(s.size(), expectedSize);
        // The next save writes one array holding that one object.
        settingsfiles::writeSettings({s}, path);
        const QJsonDocument doc = QJsonDocument::fromJson(readFile(path));
        QVERIFY(doc.isArray());
        QCOMPARE(doc.array().size(), 1);
        QCOMPARE(doc.array().at(0).toObject().toVariantMap(), QJsonObject::fromVariantMap(s).toVariantMap());
    }

    void numbersComeBackAsNumbers()
    {
        writeFile(path, R"([{"fanSpeed":5.0,"displayMode":"1"}])");
        const QVariantMap s = settingsfiles::readSettings(path);
        QCOMPARE(s.value("fanSpeed").toInt(), 5);
        QCOMPARE(s.value("displayMode").toInt(), 1);
    }

    void unparsableFileIsKeptBesideItBeforeTheNextSave()
    {
        const QByteArray userBytes("[{\"r_hex\": \"aa\",, broken");
        writeFile(path, userBytes);
        QVERIFY(settingsfiles::readSettings(path).isEmpty());
        QVERIFY(g_messages.contains("Invalid JSON format."));
        QCOMPARE(readFile(path + ".invalid"), userBytes);
        settingsfiles::writeSettings({QVariantMap{{"RGB", "ON"}}}, path);
        QCOMPARE(readFile(path + ".invalid"), userBytes);

        // A second bad file does not overwrite the first rescue.
        writeFile(path, "{nope");
        QVERIFY(settingsfiles::readSettings(path).isEmpty());
        QCOMPARE(readFile(path + ".invalid"), userBytes);
        QCOMPARE(readFile(path + ".invalid.1"), QByteArray("{nope"));
    }

    void emptyFileIsInvalidWithNothingToKeep()
    {
        writeFile(path, "");
        QVERIFY(settingsfiles::readSettings(path).isEmpty());
        QVERIFY(g_messages.contains("Invalid JSON format."));
        QVERIFY(!QFile::exists(path + ".invalid"));
    }

    void saveLeavesNoTemporaryAndReplacesWhole()
    {
        writeFile(path, QByteArray(4096, ' ') + "[{\"old\": 1}]");
        settingsfiles::writeSettings({QVariantMap{{"new", 2}}}, path);
        const QVariantMap s = settingsfiles::readSettings(path);
        QCOMPARE(s, (QVariantMap{{"new", 2.0}}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"userData.json"});
    }

    void unwritableSettingsKeepTheOldFile()
    {
        if (::geteuid() == 0)
            QSKIP("root writes through any permission bits");
        writeFile(path, "[{\"keep\": 1}]");
        QFile::setPermissions(path, QFile::ReadOwner);
        settingsfiles::writeSettings({QVariantMap{{"new", 2}}}, path);
        QVERIFY(g_messages.last().startsWith("Failed to open file for writing:"));
        QCOMPARE(readFile(path), QByteArray("[{\"keep\": 1}]"));
    }

    void markerValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("value");
        QTest::newRow("0") << QByteArray("0") << 0;
        QTest::newRow("1") << QByteArray("1") << 1;
        QTest::newRow("padded 1") << QByteArray(" 1 \n") << 1;
        QTest::newRow("2") << QByteArray("2") << -1;
        QTest::newRow("empty") << QByteArray("") << -1;
        QTest::newRow("1 on second line") << QByteArray("\n1") << -1;
    }
    void markerValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, value);
        const QString marker = dir.filePath("tarvell.txt");
        writeFile(marker, content);
        QCOMPARE(settingsfiles::readMarker(marker), value);
    }

    void markerMissingAndWrittenWhole()
    {
        const QString marker = dir.filePath("tarvell.txt");
        QCOMPARE(settingsfiles::readMarker(marker), -1);
        QVERIFY(g_messages.last().startsWith("errorString"));
        writeFile(marker, "1\nlong old content");
        settingsfiles::writeText(marker, "0");
        QCOMPARE(readFile(marker), QByteArray("0"));
    }

    void directoryCreatedWithParents()
    {
        const QString deep = dir.filePath("a/b/c");
        settingsfiles::createDirectory(deep);
        QVERIFY(QDir(deep).exists());
        QVERIFY(g_messages.last().startsWith("Directory created: "));
        settingsfiles::createDirectory(deep);
        QVERIFY(g_messages.last().startsWith("Directory already exists: "));
    }
};

QTEST_GUILESS_MAIN(SettingsFilesTest)
#include "tst_settings_files.moc"
