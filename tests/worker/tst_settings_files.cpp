// The settings file and the show-window marker as they are found on disk
// after real use, hand edits and a full disk.

#include "mcu/fan_curve.h"
#include "tests/common/files.h"
#include "worker/settingsfiles.h"

#include <QtTest>

namespace {
QStringList g_messages;
void capture(QtMsgType, const QMessageLogContext &, const QString &msg) { g_messages << msg; }
void writeFile(const QString &path, const char *text) { settingsfiles::writeText(path, QString::fromUtf8(text)); }
} // namespace

class SettingsFilesTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path;

private slots:
    void init()
    {
        path = dir.filePath(QStringLiteral("userData.json"));
        for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(f));
        g_messages.clear();
        qInstallMessageHandler(capture);
    }

    // Hand edits: several objects (the last counts) among stray values. Saved as one, sorted, indented.
    void handEditedFileIsWrittenBackAsOne()
    {
        writeFile(path, R"([{"r_hex":"aa"}, 3, {"x":null,"b_hex":"bb"}])");
        settingsfiles::writeSettings({settingsfiles::readSettings(path)}, path);
        QCOMPARE(readFile(path), QByteArray("[\n    {\n        \"b_hex\": \"bb\",\n        \"x\": null\n    }\n]\n"));
    }

    // Bytes that do not parse are kept beside the file once, never
    // overwritten by later ones, and survive the next save.
    void unparsableFileIsKeptBeside()
    {
        const char *userBytes = "[{\"r_hex\": \"aa\",\r\n, broken\r\n";
        // A key named twice, once through an escape: no reader can tell which counts.
        const char *twice = R"([{"fanSpeed":50,"RGB":"ON"},{"fanSpeed":40,"fan\u0053peed":60}])";
        for (const char *bytes : {userBytes, userBytes, "{nope", twice, ""}) {
            writeFile(path, bytes);
            QVERIFY(settingsfiles::readSettings(path).isEmpty());
        }
        settingsfiles::writeSettings({QVariantMap{{"RGB", "ON"}}}, path);
        QCOMPARE(readFile(path + ".invalid"), QByteArray(userBytes));
        QCOMPARE(readFile(path + ".invalid.1"), QByteArray("{nope"));
        QCOMPARE(readFile(path + ".invalid.2"), QByteArray(twice));
        QVERIFY(!QFile::exists(path + ".invalid.3"));
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
        QProcess::execute("sh", {"-c", "cat /dev/zero > " + mnt + "/filler 2>/dev/null"});
        settingsfiles::writeSettings({QVariantMap{{"fanSpeed", 100}, {"pad", QString(8192, 'p')}}}, file);
        const bool logged = g_messages.value(g_messages.size() - 1).startsWith("Failed to open file for writing:");
        const QByteArray kept = readFile(file);
        QVERIFY(settingsfiles::readSettings(bad).isEmpty());
        const QStringList left = QDir(mnt).entryList(QDir::Files);
        QProcess::execute("umount", {mnt});
        QVERIFY(logged);
        QCOMPARE(kept, QByteArray("[{\"fanSpeed\": 50}]"));
        QCOMPARE(left, (QStringList{"bad.json", "filler", "userData.json"}));
    }

    // Values no real use writes get their default, are named in the log and
    // reported for saving back. Without an expected value there is nothing to
    // repair and the key stays missing.
    void outOfRangeValuesGetTheirDefault()
    {
        const QVariant kDefaultCurve = mcu::curveToVariant(mcu::defaultFanCurve());
        for (auto [json, key, expected] :
             {std::tuple{R"({"fanSpeed":300,"FanControlMode":"MCU"})", "fanSpeed", QVariant(100)},
              {R"({"FanControlMode":"MCU"})", "fanSpeed", 100}, {R"({"FanControlMode":"GPU"})", "fanSpeed", {}},
              {R"({"argb_effect":14})", "argb_effect", 5}, {R"({"ARGBSliderSpeed":0})", "ARGBSliderSpeed", 5},
              {R"({"speed":"FD"})", "speed", "FE"}, {R"({"r_hex":"fbb"})", "r_hex", "fb"},
              {R"({"b_hex":7})", "b_hex", "00"}, {R"({"RGBControlMode":"GPU"})", "RGBControlMode", "MCU"},
              {R"({"fanControlBtn":6})", "fanControlBtn", 0},
              {R"({"FanControlMode":"AUTO"})", "FanControlMode", "GPU"},
              {R"({"FanControlMode":"CURVE","fanCurve":[[40,30]]})", "fanCurve", kDefaultCurve},
              {R"({"FanControlMode":"CURVE"})", "fanCurve", kDefaultCurve},
              {R"({"FanControlMode":"GPU","fanCurve":[[60,20],[80,50]]})", "fanCurve", kDefaultCurve},
              {R"({"FanControlMode":"CURVE","fanCurve":[[30,0],[50,29],[90,100]]})", "fanSpeed", {}},
              // huge, negative, fractional, not finite
              {R"({"fanSpeed":2e47})", "fanSpeed", 100}, {R"({"fanSpeed":-2e47})", "fanSpeed", 100},
              {R"({"argb_effect":1.7e308})", "argb_effect", 5}, {R"({"fanSpeed":-1})", "fanSpeed", 100},
              {R"({"displayMode":0.5})", "displayMode", 0}, {R"({"fanSpeed":"nan"})", "fanSpeed", 100},
              {R"({"fanControlBtn":"-inf"})", "fanControlBtn", 0}, {R"({"ARGBSliderSpeed":"1e999"})", "ARGBSliderSpeed", 5}}) {
            writeFile(path, json);
            QVariantMap s = settingsfiles::readSettings(path);
            g_messages.clear();
            const QStringList repaired = settingsfiles::repairSettings(s);
            QVERIFY2(s.value(key) == expected && s.contains(key) == expected.isValid(), json);
            QCOMPARE(repaired, expected.isValid() ? QStringList{key} : QStringList{});
            QCOMPARE(g_messages.filter(key).size(), repaired.size());
        }
        // The server's keys have no default: what cannot be used is left out.
        for (const char *json : {R"({"openRgbPort":6742,"openRgbServer":"yes"})", R"({"openRgbPort":80,"openRgbServer":null})"}) {
            writeFile(path, json);
            QVariantMap s = settingsfiles::readSettings(path);
            QCOMPARE(settingsfiles::repairSettings(s), (QStringList{"openRgbServer", "openRgbPort"}));
            QVERIFY2(!s.contains("openRgbPort") && !s.contains("openRgbServer"), json);
        }
    }
};

QTEST_GUILESS_MAIN(SettingsFilesTest)
#include "tst_settings_files.moc"
