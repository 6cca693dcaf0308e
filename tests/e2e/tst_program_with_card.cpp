// The program and the simulated card as separate processes, the way a user
// runs them, with a private system bus and a stand-in for logind: what reaches
// the card after a start and again after a resume from suspend, and what the
// program reads of the GPU.

#include "program.h"
#include "../platform/card_sim_process.h"

namespace {

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

    PrivateHome home;
    const QString transferLog = home.path("transfers.log"), socket = home.path("system_bus_socket");
    std::unique_ptr<QProcess> bus, login1;
    CardSimProcess card{home.runtime(), {"--sysfs", home.runtime() + "/sysfs", "--log", transferLog}};

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = home.environment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket);
        return env;
    }

    // Lines the card's log holds after `from` once it has grown by `count`
    // and then stayed quiet half a second.
    QStringList transfersAfter(int from, int count)
    {
        (void)QTest::qWaitFor([&] { return readLines(transferLog).size() - from >= count; }, 15000);
        QTest::qWait(500);
        return readLines(transferLog).mid(from);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(CONTROL_LIBRARY), "the stand-in control library is not installed; run cmake --install");
        QVERIFY(writeFile(home.path("bus.conf"), QString::fromLatin1(kBusConfig).arg(socket).toUtf8()));
        bus = home.start("dbus-daemon", {"--config-file=" + home.path("bus.conf"), "--nofork", "--nopidfile"});
        QVERIFY2(bus->waitForStarted(), "dbus-daemon is needed (package dbus-daemon)");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 10000);
        login1 = home.start(LOGIN1_STANDIN, {}, environment());
        QVERIFY(login1->waitForReadyRead(10000) && login1->readLine() == "ready\n");
        QVERIFY(card.start());
    }

    void cleanupTestCase()
    {
        for (QProcess *p : {login1.get(), bus.get()})
            if (p && (p->terminate(), !p->waitForFinished(5000)))
                p->kill();
    }

    void startAndResumeRestoreTheSavedChoices_data()
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
    void startAndResumeRestoreTheSavedChoices()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, fan);
        QFile::remove(home.data("userData.json"));
        QVERIFY(settings.isEmpty() || writeFile(home.data("userData.json"), settings));
        // The simulator holds the log open: count what is there, never remove it.
        const int before = readLines(transferLog).size();
        auto program = home.start(TARVELL_VORN, {}, environment());
        QByteArray output;

        // Within three seconds the log names the card and shows one line per
        // reading the stand-in library supports.
        const QStringList readings{"Matched device: TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA",
                                   "Gpu Current Frequency: ", "Gpu Current Temperature: ",
                                   "VRAM Temperature: ", "Fan 0 Speed: "};
        const auto allReadingsLogged = [&] {
            output += program->readAll();
            return std::all_of(readings.begin(), readings.end(), [&](const QString &r) { return output.contains(r.toUtf8()); });
        };
        QTRY_VERIFY2_WITH_TIMEOUT(allReadingsLogged(), output.left(3000).constData(), 5000);

        const QString colour = repeat("FB 00 00", 10);
        const QStringList restore = QStringList{
            "OPEN 0", "W 00 E3 00", "W 03 20 " + colour, "W 03 20 " + colour,
            "W 03 11 " + repeat("FB 00 00", 5), "W 00 E0 21", "W 02 05 FE", "W 00 E0 2F", "W 01 01",
            "OPEN 0", "W 00 E0 21", "W 02 81 00", "W 00 E0 2F", "W 01 01"} + fan;
        QCOMPARE(transfersAfter(before, restore.size()), restore);
        if (!settings.isEmpty())
            QVERIFY(readFile(home.data("userData.json")).contains("\"fanSpeed\": 100"));

        // Going to sleep sends nothing; the resume sends the same again.
        login1->write("sleep\n");
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += login1->readAll()).contains("sent sleep"), 10000);
        QTest::qWait(1500);
        QCOMPARE(readLines(transferLog).size(), before + restore.size());
        login1->write("resume\n");
        QCOMPARE(transfersAfter(before + restore.size(), restore.size()), restore);
        QVERIFY((output += program->readAll()).contains("Resumed from suspend"));
        PrivateHome::stop(program.get());
    }
};

QTEST_GUILESS_MAIN(ProgramWithCardTest)
#include "tst_program_with_card.moc"
