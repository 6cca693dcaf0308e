// The program and the simulated card as separate processes, the way a user
// runs them: what reaches the card after a start and what the program reads
// of the GPU.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

QString repeat(const QString &triple, int n)
{
    QStringList parts;
    for (int i = 0; i < n; ++i)
        parts << triple;
    return parts.join(' ');
}

} // namespace

class ProgramWithCardTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QString runtimeDir, sysfsDir, transferLog;
    QProcess card;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("TMPDIR", home.filePath("tmp"));
        env.insert("CTL_SYSFS_ROOT", sysfsDir);
        // Offscreen with no display and no scene-graph choice: no OpenGL at all.
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("QT_QUICK_BACKEND");
        env.remove("DISPLAY");
        return env;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(CONTROL_LIBRARY),
                 "the stand-in control library is not installed; run cmake --install first");
        runtimeDir = home.filePath("run");
        sysfsDir = runtimeDir + "/sysfs";
        transferLog = home.filePath("transfers.log");
        QDir().mkpath(runtimeDir);
        QDir().mkpath(home.filePath("tmp"));
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        card.setProcessEnvironment(environment());
        card.setProcessChannelMode(QProcess::MergedChannels);
        card.start(CARD_SIM, {"--runtime-dir", runtimeDir, "--sysfs", sysfsDir, "--log", transferLog});
        QVERIFY(card.waitForStarted());
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += card.readAll()).contains("serving"), said.constData(),
                                  5000);
    }

    void cleanupTestCase()
    {
        card.terminate();
        card.waitForFinished(5000);
    }

    void startRestoresTheSavedChoicesOnTheCard_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("fan");
        const QStringList toGpu{"OPEN 0", "W 00 E0 21", "W 02 80 01", "W 00 E0 2F", "W 01 01"};
        const QStringList toMcu{"OPEN 0", "W 00 E0 21", "W 02 80 00", "W 00 E0 2F", "W 01 01"};
        // Default settings: effect 05 in fb 00 00 at speed FE, the fan left to the GPU.
        QTest::newRow("defaults") << QByteArray() << toGpu;
        // A hand-edited duty the card cannot take is repaired to 100 first.
        QTest::newRow("fanSpeed 300")
            << QByteArray(R"([{"FanControlMode":"MCU","fanSpeed":300,"RGB":"ON","RGBControlMode":"MCU",)"
                          R"("argb_effect":5,"r_hex":"fb","g_hex":"00","b_hex":"00","speed":"FE"}])")
            << toMcu + QStringList{"OPEN 0", "W 00 D8 10", "W 01 64"};
    }
    void startRestoresTheSavedChoicesOnTheCard()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, fan);
        const QString settingsFile = home.filePath("data/tarvell-vorn/userData.json");
        QFile::remove(settingsFile);
        if (!settings.isEmpty()) {
            QDir().mkpath(QFileInfo(settingsFile).path());
            QFile f(settingsFile);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(settings) == settings.size());
        }
        // The simulator holds the log open: count what is there, never remove it.
        const int before = readLines(transferLog).size();
        QProcess program;
        program.setProcessEnvironment(environment());
        program.setProcessChannelMode(QProcess::MergedChannels);
        QByteArray output;
        connect(&program, &QProcess::readyRead, this, [&] { output += program.readAll(); });
        program.start(TARVELL_VORN, QStringList());
        QVERIFY(program.waitForStarted());

        // Within three seconds the log names the card and shows one line per
        // reading the stand-in library supports.
        const QStringList readings{"Matched device: TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA",
                                   "Gpu Current Frequency: ", "Gpu Current Temperature: ",
                                   "VRAM Temperature: ", "Fan 0 Speed: "};
        const auto allReadingsLogged = [&] {
            for (const QString &r : readings)
                if (!output.contains(r.toUtf8()))
                    return false;
            return true;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(allReadingsLogged(), output.left(3000).constData(), 5000);

        const QString colour = repeat("FB 00 00", 10);
        const QStringList restore = QStringList{
            "OPEN 0", "W 00 E3 00", "W 03 20 " + colour, "W 03 20 " + colour,
            "W 03 11 " + repeat("FB 00 00", 5), "W 00 E0 21", "W 02 05 FE", "W 00 E0 2F", "W 01 01",
            "OPEN 0", "W 00 E0 21", "W 02 81 00", "W 00 E0 2F", "W 01 01"} + fan;
        QTRY_VERIFY2_WITH_TIMEOUT(readLines(transferLog).size() - before >= restore.size(),
                                  qPrintable(readLines(transferLog).join('\n')), 15000);
        QTest::qWait(500); // nothing more follows
        QCOMPARE(readLines(transferLog).mid(before), restore);
        QCOMPARE(program.state(), QProcess::Running);
        if (!settings.isEmpty()) {
            QFile f(settingsFile);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.readAll().contains("\"fanSpeed\": 100"));
        }
        program.disconnect();
        program.terminate(); // SIGTERM: the normal teardown
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
    }

};

QTEST_GUILESS_MAIN(ProgramWithCardTest)
#include "tst_program_with_card.moc"
