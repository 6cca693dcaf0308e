// The card operations end to end: through the command language, the
// transport and the platform layer to the simulated card, whose transfer log
// shows what actually reached the bus.
#include "mcu/card_mcu.h"

#include <QtTest>

#include <memory>
#include <stdexcept>

namespace {

QString triples(const QString &triple, int n)
{
    QStringList parts;
    for (int i = 0; i < n; ++i)
        parts << triple;
    return parts.join(QLatin1Char(' '));
}

// One simulated card in a private runtime directory. The test process points
// its own runtime directory there, so the device name resolves to it.
class SimCard {
public:
    bool start(const QStringList &faults = {})
    {
        if (!dir.isValid())
            return false;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
        QStringList args{"--runtime-dir", dir.path(), "--log", logPath()};
        for (const QString &fault : faults)
            args << "--fault" << fault;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", dir.path());
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QString::fromLocal8Bit(qgetenv("TARVELL_CARD_SIM")), args);
        if (!process.waitForStarted(10000))
            return false;
        // It prints one line once it serves the endpoint.
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(10000))
                return false;
        }
        process.readLine();
        return true;
    }

    ~SimCard()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    QString logPath() const { return dir.filePath("log"); }

    QStringList log() const
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Transfers only: the lines a card operation puts on the bus.
    QStringList transfers() const
    {
        QStringList out;
        const QRegularExpression transfer("^(OPEN |W |WR |R )");
        for (const QString &line : log()) {
            if (transfer.match(line).hasMatch())
                out << line;
        }
        return out;
    }

    QTemporaryDir dir;
    QProcess process;
};

mcu::CardMcu quickMcu()
{
    // The card does not need the pauses to take the transfers in order.
    return mcu::CardMcu(mcu::kCardDevicePath, [](unsigned) {});
}

} // namespace

class CardSimTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(!qEnvironmentVariableIsEmpty("TARVELL_CARD_SIM")); }

    void lightingReachesTheCard()
    {
        SimCard sim;
        QVERIFY(sim.start());
        auto mcu = quickMcu();
        QCOMPARE(mcu.I2C_ARGB_Control("01", "ff", "80", "00", "02"), 9);
        const QString leds10 = triples("FF 00 80", 10);
        const QStringList expected{"OPEN 0",
                                   "W 00 E3 00",
                                   "W 03 20 " + leds10,
                                   "W 03 20 " + leds10,
                                   "W 03 11 " + triples("FF 00 80", 5),
                                   "W 00 E0 21",
                                   "W 02 01 02",
                                   "W 00 E0 2F",
                                   "W 01 01"};
        QTRY_COMPARE(sim.transfers(), expected);

        // The card read the triples as red, blue, green.
        const QByteArray colour = mcu.I2C_Read_ARGB_Value(1);
        QCOMPARE(colour.size(), 4);
        QCOMPARE(colour.mid(1), QByteArray("\xFF\x80\x00", 3));
        QCOMPARE(mcu.I2C_Read_ARGB_Effect_Speed(), QByteArray("\x01\x02", 2));
    }

    void switchesReachTheCard()
    {
        SimCard sim;
        QVERIFY(sim.start());
        auto mcu = quickMcu();
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(0), 5);
        QCOMPARE(mcu.I2C_Switch_to_Sync_Motherboard_Control(1), 5);
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(3), 4);
        QCOMPARE(mcu.I2C_Switch_to_Sync_Motherboard_Control(2), 4);
        const QStringList expected{
            "OPEN 0", "W 00 E0 21", "W 02 80 00", "W 00 E0 2F", "W 01 01",
            "OPEN 0", "W 00 E0 21", "W 02 81 01", "W 00 E0 2F", "W 01 01",
            "OPEN 0", "W 00 E0 21", "W 00 E0 2F", "W 01 01",
            "OPEN 0", "W 00 E0 21", "W 00 E0 2F", "W 01 01"};
        QTRY_COMPARE(sim.transfers(), expected);
    }

    void fanDutyReachesTheCard()
    {
        SimCard sim;
        QVERIFY(sim.start());
        auto mcu = quickMcu();
        QCOMPARE(mcu.I2C_Fan_Control(75), 3);
        QCOMPARE(mcu.I2C_Fan_Control(255), 3);
        QVERIFY_EXCEPTION_THROWN(mcu.I2C_Fan_Control(256), std::out_of_range);
        QVERIFY_EXCEPTION_THROWN(mcu.I2C_Fan_Control(-1), std::out_of_range);
        QCOMPARE(mcu.I2C_Fan_Control(30), 3);
        QCOMPARE(mcu.Read_I2C_Fan_PWM(), 30);
        QCOMPARE(mcu.i2cReplyBuffer, QByteArray("\x1E\x00", 2));
        const QStringList expected{
            "OPEN 0", "W 00 D8 10", "W 01 4B",
            "OPEN 0", "W 00 D8 10", "W 01 FF",
            "OPEN 0", "W 00 D8 10",
            "OPEN 0", "W 00 D8 10",
            "OPEN 0", "W 00 D8 10", "W 01 1E",
            "OPEN 0", "W 00 D8 00", "WR 82 -> 1E 00"};
        QTRY_COMPARE(sim.transfers(), expected);
    }

    void readsReachTheCard()
    {
        SimCard sim;
        QVERIFY(sim.start());
        auto mcu = quickMcu();
        QCOMPARE(mcu.Read_Check_MB_Sync_Cable().size(), 2);
        const QByteArray firmware = mcu.I2C_Read_FW_Version();
        QCOMPARE(firmware.size(), 6);
        QCOMPARE(mcu.I2C_Read_ARGB_Value(0), firmware);
        QTRY_COMPARE(sim.transfers().size(), 11);
        const QStringList log = sim.transfers();
        QCOMPARE(log.mid(0, 2), (QStringList{"OPEN 0", "W 00 E0 FE"}));
        QVERIFY(log.at(2).startsWith("WR 82 -> "));
        QCOMPARE(log.mid(3, 2), (QStringList{"OPEN 0", "W 00 B5 00"}));
        QCOMPARE(log.at(5), "WR 86 -> " + QString::fromLatin1(firmware.toHex(' ').toUpper()));
        QCOMPARE(log.mid(6, 2), (QStringList{"OPEN 0", "W 00 E3 00"}));
        for (int i = 8; i < 11; ++i)
            QVERIFY2(log.at(i).startsWith("WR A0 -> "), qPrintable(log.at(i)));
    }

    void everyRequestFailing()
    {
        SimCard sim;
        QVERIFY(sim.start({"error=31"}));
        auto mcu = quickMcu();
        mcu.i2cReplyBuffer = QByteArray("\x01\x02", 2);
        QCOMPARE(mcu.I2C_ARGB_Control("01", "FF", "FF", "FF", "00"), 0);
        QCOMPARE(mcu.lastCommandStatus, 31);
        QCOMPARE(mcu.I2C_Switch_to_Sync_Motherboard_Control(0), 0);
        QCOMPARE(mcu.I2C_Fan_Control(50), 0);
        QCOMPARE(mcu.lastCommandStatus, 31);
        QCOMPARE(mcu.Read_I2C_Fan_PWM(), 0);
        // A failed read leaves nothing behind from the one before.
        QCOMPARE(mcu.I2C_Read_ARGB_Effect_Speed(), QByteArray());
        QCOMPARE(mcu.i2cReplyBuffer, QByteArray());
    }

    void writesLeftPending()
    {
        SimCard sim;
        QVERIFY(sim.start({"pending-write-ms=700"}));
        auto mcu = quickMcu();
        // Only "open 0" completes; every write times out and is cancelled.
        QCOMPARE(mcu.I2C_Fan_Control(40), 1);
        QCOMPARE(mcu.lastCommandStatus, 997);
    }

    void shortReplies()
    {
        SimCard sim;
        QVERIFY(sim.start({"short-reply"}));
        auto mcu = quickMcu();
        QCOMPARE(mcu.I2C_Fan_Control(100), 3);
        QCOMPARE(mcu.Read_I2C_Fan_PWM(), 0);
        QCOMPARE(mcu.i2cReplyBuffer, QByteArray("\x64", 1));
        QCOMPARE(mcu.I2C_Read_ARGB_Value(1).size(), 3);
        QCOMPARE(mcu.I2C_Read_FW_Version().size(), 5);
    }

    void cardVanishes()
    {
        SimCard sim;
        QVERIFY(sim.start({"vanish-after=3"}));
        auto mcu = quickMcu();
        // "open 0" and three writes go through; the closing write finds no card.
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(1), 4);
        QVERIFY(mcu.lastCommandStatus != 0);
        QTRY_COMPARE(sim.transfers(),
                     (QStringList{"OPEN 0", "W 00 E0 21", "W 02 80 01", "W 00 E0 2F"}));
        // With the endpoint gone the next operations find no driver.
        mcu.i2cReplyBuffer = QByteArray("\x05", 1);
        QCOMPARE(mcu.I2C_ARGB_Control("01", "00", "00", "00", "00"), -2);
        QCOMPARE(mcu.I2C_Switch_to_Sync_Motherboard_Control(0), -2);
        QCOMPARE(mcu.I2C_Fan_Control(50), 0);
        QCOMPARE(mcu.Read_I2C_Fan_PWM(), 0);
        QCOMPARE(mcu.Read_Check_MB_Sync_Cable(), QByteArray("\x05", 1));
    }
};

QTEST_GUILESS_MAIN(CardSimTest)
#include "tst_card_sim.moc"
