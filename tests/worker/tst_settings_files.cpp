// The settings file, the version file and the show-window marker, as they
// are found on disk after real use and hand edits.

#include "worker/settingsfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

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

    void unparsableFileIsKeptBesideItBeforeTheNextSave()
    {
        const QByteArray userBytes("[{\"r_hex\": \"aa\",\r\n, broken\r\n");
        writeFile(path, userBytes);
        QVERIFY(settingsfiles::readSettings(path).isEmpty());
        QVERIFY(g_messages.contains("Invalid JSON format."));
        QCOMPARE(readFile(path + ".invalid"), userBytes);
        settingsfiles::writeSettings({QVariantMap{{"RGB", "ON"}}}, path);
        QCOMPARE(readFile(path + ".invalid"), userBytes);

        // The same bytes again are not kept twice; other bytes do not
        // overwrite the first rescue.
        writeFile(path, userBytes);
        QVERIFY(settingsfiles::readSettings(path).isEmpty());
        QVERIFY(!QFile::exists(path + ".invalid.1"));
        writeFile(path, "{nope");
        QVERIFY(settingsfiles::readSettings(path).isEmpty());
        QCOMPARE(readFile(path + ".invalid"), userBytes);
        QCOMPARE(readFile(path + ".invalid.1"), QByteArray("{nope"));
        writeFile(path, ""); // empty: invalid, nothing to keep
        QVERIFY(settingsfiles::readSettings(path).isEmpty());
        QVERIFY(!QFile::exists(path + ".invalid.2"));
    }

    // A full disk: the save and the rescue copy fail whole, the old file stays.
    void fullFileSystemKeepsTheOldFile()
    {
        const QString mnt = dir.filePath("full");
        QDir().mkpath(mnt);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt}) != 0)
            QSKIP("mounting a small tmpfs is not allowed here");
        const QString file = mnt + "/userData.json", bad = mnt + "/bad.json";
        writeFile(file, "[{\"fanSpeed\": 50}]");
        writeFile(bad, "{broken");
        QFile filler(mnt + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {}
        filler.close();
        settingsfiles::writeSettings({QVariantMap{{"fanSpeed", 100}, {"pad", QString(8192, 'p')}}}, file);
        const bool logged = g_messages.last().startsWith("Failed to open file for writing:");
        const QByteArray kept = readFile(file);
        QVERIFY(settingsfiles::readSettings(bad).isEmpty());
        const QStringList left = QDir(mnt).entryList(QDir::Files);
        QProcess::execute("umount", {mnt});
        QVERIFY(logged);
        QCOMPARE(kept, QByteArray("[{\"fanSpeed\": 50}]"));
        QCOMPARE(left, (QStringList{"bad.json", "filler", "userData.json"}));
    }

    void outOfRangeValuesGetTheirDefault_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("expected"); // invalid: the key stays missing
        const auto row = [](const char *json, const char *key, const QVariant &v) {
            QTest::newRow(json) << QByteArray(json) << QString(key) << v;
        };
        row(R"({"fanSpeed":300,"FanControlMode":"MCU"})", "fanSpeed", 100);
        row(R"({"fanSpeed":"75"})", "fanSpeed", "75");
        row(R"({"FanControlMode":"MCU"})", "fanSpeed", 100);
        row(R"({"FanControlMode":"GPU"})", "fanSpeed", QVariant());
        row(R"({"argb_effect":14})", "argb_effect", 5);
        row(R"({"argb_effect":5.5})", "argb_effect", 5);
        row(R"({"argb_effect":"13"})", "argb_effect", "13");
        row(R"({"ARGBSliderSpeed":0})", "ARGBSliderSpeed", 5);
        row(R"({"speed":"FD"})", "speed", "FE");
        row(R"({"r_hex":"fbb"})", "r_hex", "fb");
        row(R"({"b_hex":7})", "b_hex", "00");
        row(R"({"b_hex":"Ff"})", "b_hex", "Ff");
        row(R"({"RGB":"on"})", "RGB", "ON");
        row(R"({"RGBControlMode":"GPU"})", "RGBControlMode", "MCU");
        row(R"({"displayMode":2})", "displayMode", 0);
        row(R"({"displayMode":null})", "displayMode", QVariant());
        row(R"({"fanControlBtn":5})", "fanControlBtn", 0);
        row(R"({"serverVersion":3})", "serverVersion", "");
        row(R"({"appVersion":[1]})", "appVersion", QVariant());
    }
    void outOfRangeValuesGetTheirDefault()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, key);
        QFETCH(QVariant, expected);
        writeFile(path, json);
        QVariantMap s = settingsfiles::readSettings(path);
        const QVariant before = s.value(key);
        const QStringList repaired = settingsfiles::repairSettings(s);
        QCOMPARE(s.value(key).isNull() ? QVariant() : s.value(key), expected);
        const bool changed = before.isNull() != expected.isNull()
            || (!before.isNull() && (before.type() != expected.type() || before != expected));
        QCOMPARE(repaired.contains(key), changed);
        QCOMPARE(g_messages.filter(key).size(), repaired.size());
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
        // Polled, a missing marker is written again and reported once.
        g_messages.clear();
        for (int i = 0; i < 4; ++i) {
            if (i == 2)
                QFile::remove(marker); // gone again: one more report
            QCOMPARE(settingsfiles::pollMarker(marker), 0);
        }
        QCOMPARE(g_messages.size(), 2);
        QCOMPARE(readFile(marker), QByteArray("0"));
        writeFile(marker, "1\nlong old content");
        settingsfiles::writeText(marker, "0");
        QCOMPARE(readFile(marker), QByteArray("0"));
    }
};

QTEST_GUILESS_MAIN(SettingsFilesTest)
#include "tst_settings_files.moc"
