// The program and the simulated card as separate processes, the way a user
// runs them, with a private system bus and a stand-in for logind: what reaches
// the card after a start and again after a resume from suspend, and what the
// program reads of the GPU.

#include "program.h"

class ProgramWithCardTest : public QObject {
    Q_OBJECT

    CardRig rig;
    PrivateHome &home = rig.home;

    // Lines the card's log holds after `from` once it has grown by `count`
    // and then stayed quiet half a second.
    QStringList transfersAfter(int from, int count)
    {
        rig.transfersAfter(from, count);
        QTest::qWait(500);
        return rig.transfers().mid(from);
    }

private slots:
    void initTestCase() { QVERIFY(rig.start()); }

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
        const int before = rig.transfers().size();
        rig.startProgram();

        // Within three seconds the log names the card and shows one line per
        // reading the stand-in library supports.
        const QStringList readings{"Matched device: TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA",
                                   "Gpu Current Frequency: ", "Gpu Current Temperature: ",
                                   "VRAM Temperature: ", "Fan 0 Speed: "};
        const auto allReadingsLogged = [&] {
            return std::all_of(readings.begin(), readings.end(), [&](const QString &r) { return rig.programSaid.contains(r.toUtf8()); });
        };
        QVERIFY2(QTest::qWaitFor(allReadingsLogged, 5000), rig.programSaid.left(3000).constData());

        const QString colour = repeated("FB 00 00", 10);
        const QStringList restore = QStringList{
            "OPEN 0", "W 00 E3 00", "W 03 20 " + colour, "W 03 20 " + colour,
            "W 03 11 " + repeated("FB 00 00", 5), "W 00 E0 21", "W 02 05 FE", "W 00 E0 2F", "W 01 01",
            "OPEN 0", "W 00 E0 21", "W 02 81 00", "W 00 E0 2F", "W 01 01"} + fan;
        QCOMPARE(transfersAfter(before, restore.size()), restore);
        if (!settings.isEmpty())
            QVERIFY(readFile(home.data("userData.json")).contains("\"fanSpeed\": 100"));

        // Going to sleep sends nothing; the resume sends the same again.
        rig.login1->write("sleep\n");
        QVERIFY(rig.login1Says("sent sleep"));
        QTest::qWait(1500);
        QCOMPARE(rig.transfers().size(), before + restore.size());
        rig.login1->write("resume\n");
        QCOMPARE(transfersAfter(before + restore.size(), restore.size()), restore);
        QVERIFY(rig.programSays("Resumed from suspend"));
        PrivateHome::stop(rig.program.get());
    }
};

QTEST_GUILESS_MAIN(ProgramWithCardTest)
#include "tst_program_with_card.moc"
