// The card operations against the in-process driver: the exact transfers and
// the pauses between them, counting, reply decoding and the failure paths.
#include "mcu/card_mcu.h"
#include "platform/control_codes.h"
#include "tests/mcu/fake_device.h"

#include <QtTest>

#include <functional>
#include <limits>
#include <stdexcept>

namespace {

// What reached the driver, one request a line ("OPEN 0", "W 00 E3 00",
// "WR 82 2"), with "." where the operation paused.
struct Bus {
    FakeDriver driver;
    QVector<int> pauses; // requests sent before each pause

    mcu::CardMcu mcu()
    {
        return mcu::CardMcu(known_card::kDevicePath, [this](unsigned ms) {
            QCOMPARE(ms, 20u);
            pauses << int(driver.requests().size());
        });
    }
    QString journal() const
    {
        const std::vector<FakeRequest> requests = driver.requests();
        QStringList lines;
        for (int i = 0; i <= int(requests.size()); ++i) {
            for (int k = pauses.count(i); k > 0; --k)
                lines << QStringLiteral(".");
            if (i == int(requests.size()))
                break;
            const FakeRequest &r = requests[std::size_t(i)];
            const QString hex = QString::fromLatin1(r.input.toHex(' ').toUpper());
            if (r.kind == FakeRequest::Write)
                lines << "W " + hex;
            else if (r.code == platform::kIoctlOpenTarget && r.input.size() == 4)
                lines << QStringLiteral("OPEN %1").arg(qFromLittleEndian<quint32>(r.input.constData()));
            else if (r.code == platform::kIoctlWriteRead)
                lines << QStringLiteral("WR %1 %2").arg(hex).arg(r.outputLength);
            else
                lines << QStringLiteral("IOCTL %1 %2").arg(r.code, 0, 16).arg(hex);
        }
        return lines.join('|');
    }
    void failAt(int request, std::uint32_t error)
    {
        driver.script.assign(std::size_t(request), FakeReply{});
        driver.script.push_back({FakeReply::Fail, error, -1, {}});
    }
};

QString leds(const QString &triple, int n) { return (triple + ' ').repeated(n).chopped(1); }

QString lighting(const QString &triple, const QString &mode)
{
    return "OPEN 0|.|W 00 E3 00|.|W 03 20 " + leds(triple, 10) + "|.|W 03 20 " + leds(triple, 10)
        + "|.|W 03 11 " + leds(triple, 5) + "|.|W 00 E0 21|.|W 02 " + mode
        + "|.|W 00 E0 2F|.|W 01 01";
}

using Operation = std::function<int(mcu::CardMcu &)>;

Operation argb(QString e, QString r, QString g, QString b, QString s)
{
    return [=](mcu::CardMcu &m) { return m.I2C_ARGB_Control(e, r, g, b, s); };
}

} // namespace

class CardProtocolTest : public QObject {
    Q_OBJECT

private slots:
    void controlsSendTheirTransfers()
    {
        const auto mcuSwitch = [](int mode) {
            return Operation([mode](mcu::CardMcu &m) { return m.I2C_Switch_GPU_MCU_Control(mode); });
        };
        const auto syncSwitch = [](int mode) {
            return Operation(
                [mode](mcu::CardMcu &m) { return m.I2C_Switch_to_Sync_Motherboard_Control(mode); });
        };
        const auto fan = [](int duty) {
            return Operation([duty](mcu::CardMcu &m) { return m.I2C_Fan_Control(duty); });
        };
        const QString fanHead = "OPEN 0|.|W 00 D8 10|.|W 01 ";
        const struct {
            const char *name;
            Operation run;
            int result;
            QString journal;
        } rows[] = {
            // Colour triples go red, blue, green; one-digit texts are bytes too.
            {"lighting", argb("01", "ff", "80", "00", "02"), 9, lighting("FF 00 80", "01 02")},
            {"lighting, one digit", argb("0D", "f", "0", "a", "fe"), 9, lighting("0F 0A 00", "0D FE")},
            // No pause between the fan mode write and the next write.
            {"fan to MCU", mcuSwitch(0), 5, "OPEN 0|.|W 00 E0 21|.|W 02 80 00|W 00 E0 2F|.|W 01 01"},
            {"fan to GPU", mcuSwitch(1), 5, "OPEN 0|.|W 00 E0 21|.|W 02 80 01|W 00 E0 2F|.|W 01 01"},
            {"fan, other mode", mcuSwitch(2), 4, "OPEN 0|.|W 00 E0 21|.|W 00 E0 2F|.|W 01 01"},
            {"lighting to card", syncSwitch(0), 5,
             "OPEN 0|.|W 00 E0 21|.|W 02 81 00|.|W 00 E0 2F|.|W 01 01"},
            {"lighting to board", syncSwitch(1), 5,
             "OPEN 0|.|W 00 E0 21|.|W 02 81 01|.|W 00 E0 2F|.|W 01 01"},
            // The pause after the mode step stays when nothing was sent.
            {"lighting, other mode", syncSwitch(-1), 4,
             "OPEN 0|.|W 00 E0 21|.|.|W 00 E0 2F|.|W 01 01"},
            {"duty 100", fan(100), 3, fanHead + "64"},
            {"duty 5", fan(5), 3, fanHead + "05"},
            {"duty 255", fan(255), 3, fanHead + "FF"},
            // Texts spliced into a command must be bytes: anything else
            // refuses the whole operation before the driver is touched.
            {"two bytes in red", argb("01", "FF 00", "00", "00", "02"), 0, ""},
            {"brace in green", argb("01", "00", "0}", "00", "02"), 0, ""},
            {"empty blue", argb("01", "00", "00", "", "02"), 0, ""},
            {"three digits", argb("01", "1FF", "00", "00", "02"), 0, ""},
            {"sign", argb("01", "-1", "00", "00", "02"), 0, ""},
            {"non-ASCII digit", argb("01", QString::fromUtf8("\xd9\xa1"), "00", "00", "02"), 0, ""},
            {"extra transfer in effect", argb("01} {00", "00", "00", "00", "02"), 0, ""},
        };
        for (const auto &row : rows) {
            Bus bus;
            auto mcu = bus.mcu();
            mcu.commandSuccessCount = 7;
            const int result = row.run(mcu);
            QVERIFY2(result == row.result && mcu.commandSuccessCount == row.result, row.name);
            QVERIFY2(bus.journal() == row.journal, qPrintable(row.name + (": " + bus.journal())));
            QVERIFY2((mcu.lastCommandStatus == 0) == (row.result > 0), row.name);
            QCOMPARE(bus.driver.liveDevices(), 0);
        }
    }

    void readsDecodeAndStoreTheirReply()
    {
        const QByteArray earlier("\x07\x08", 2);
        const auto fanValue = [](mcu::CardMcu &m) { return QByteArray::number(m.Read_I2C_Fan_PWM()); };
        const QString fanJournal = "OPEN 0|.|W 00 D8 00|.|WR 82 2|.";
        const struct {
            const char *name;
            std::function<QByteArray(mcu::CardMcu &)> read;
            QByteArray reply;
            QString journal;
            QByteArray result;
        } rows[] = {
            {"colour", [](mcu::CardMcu &m) { return m.I2C_Read_ARGB_Value(1); },
             QByteArray("\x00\xFF\x80\x10", 4), "OPEN 0|.|W 00 E3 00|.|WR 85 4",
             QByteArray("\x00\xFF\x80\x10", 4)},
            // The colour block is read three times and not kept.
            {"colour block", [](mcu::CardMcu &m) { return m.I2C_Read_ARGB_Value(0); }, {},
             "OPEN 0|.|W 00 E3 00|.|WR A0 32|.|WR A0 32|.|WR A0 32", earlier},
            {"other colour mode", [](mcu::CardMcu &m) { return m.I2C_Read_ARGB_Value(5); }, {},
             "OPEN 0|.|W 00 E3 00|.", earlier},
            {"effect and speed", [](mcu::CardMcu &m) { return m.I2C_Read_ARGB_Effect_Speed(); },
             QByteArray("\x0B\xFE", 2), "OPEN 0|.|W 00 E0 21|.|WR 82 2", QByteArray("\x0B\xFE", 2)},
            {"sync cable", [](mcu::CardMcu &m) { return m.Read_Check_MB_Sync_Cable(); },
             QByteArray("\x01\x00", 2), "OPEN 0|.|W 00 E0 FE|.|WR 82 2", QByteArray("\x01\x00", 2)},
            {"firmware", [](mcu::CardMcu &m) { return m.I2C_Read_FW_Version(); },
             QByteArray("\x01\x02\x03\x04\x05\x06", 6), "OPEN 0|.|W 00 B5 00|.|WR 86 6|.",
             QByteArray("\x01\x02\x03\x04\x05\x06", 6)},
            // The fan value is little-endian of exactly two bytes; the reply is kept as it came.
            {"fan value", fanValue, QByteArray("\x34\x12", 2), fanJournal, "4660"},
            {"fan value, top", fanValue, QByteArray("\xFF\xFF", 2), fanJournal, "65535"},
            {"fan value, one byte", fanValue, QByteArray("\x34", 1), fanJournal, "0"},
            {"fan value, no bytes", fanValue, QByteArray(""), fanJournal, "0"},
        };
        for (const auto &row : rows) {
            Bus bus;
            bus.driver.defaultReply.output = row.reply;
            auto mcu = bus.mcu();
            mcu.i2cReplyBuffer = earlier;
            mcu.lastCommandStatus = 123;
            mcu.commandSuccessCount = 4;
            QVERIFY2(row.read(mcu) == row.result, row.name);
            // A null reply: what was read is not kept, the buffer holds the earlier bytes.
            QVERIFY2(mcu.i2cReplyBuffer == (row.reply.isNull() ? earlier : row.reply), row.name);
            QVERIFY2(bus.journal() == row.journal, qPrintable(row.name + (": " + bus.journal())));
            // Reads are not counted.
            QVERIFY2(mcu.lastCommandStatus == 123 && mcu.commandSuccessCount == 4, row.name);
        }
        QCOMPARE(mcu::CardMcu::decodeFanValue(QByteArray("\x34\x12\x00", 3)), 0);
    }

    void failedCommandsAreCountedOutButDoNotStopTheSequence()
    {
        Bus bus;
        auto mcu = bus.mcu();
        bus.failAt(7, platform::kErrorGenFailure); // 00 E0 2F
        QCOMPARE(mcu.I2C_ARGB_Control("01", "FF", "FF", "FF", "00"), 8);
        QVERIFY(bus.journal().endsWith("W 00 E0 2F|.|W 01 01"));
        QCOMPARE(mcu.lastCommandStatus, 0);
        bus.failAt(4, 121); // the closing 01 01
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(1), 4);
        QCOMPARE(mcu.lastCommandStatus, 121);

        // A failed read leaves nothing of the one before.
        mcu.i2cReplyBuffer = QByteArray("\x01\x02", 2);
        bus.failAt(2, platform::kErrorGenFailure);
        QCOMPARE(mcu.I2C_Read_ARGB_Effect_Speed(), QByteArray());
        QCOMPARE(mcu.i2cReplyBuffer, QByteArray());
    }

    void fanDutyOutOfRangeThrowsAfterClosing()
    {
        for (int duty : {256, -1, std::numeric_limits<int>::min()}) {
            Bus bus;
            auto mcu = bus.mcu();
            QString what;
            int liveAtThrow = -1;
            try {
                mcu.I2C_Fan_Control(duty);
            } catch (const std::out_of_range &error) {
                what = QString::fromLatin1(error.what());
                liveAtThrow = bus.driver.liveDevices();
            }
            QCOMPARE(what, QStringLiteral("ERROR: IntToUint8 input: 0 to 255"));
            QCOMPARE(liveAtThrow, 0);
            QCOMPARE(bus.journal(), QStringLiteral("OPEN 0|.|W 00 D8 10|."));
            QCOMPARE(mcu.commandSuccessCount, 2);
            // The process-wide connection is usable again.
            QCOMPARE(mcu.I2C_Fan_Control(50), 3);
        }
    }

    void missingDriverSendsNothing()
    {
        Bus bus;
        bus.driver.absent = true;
        auto mcu = bus.mcu();
        const QByteArray earlier("\x0A\x0B", 2);
        mcu.i2cReplyBuffer = earlier;
        QCOMPARE(mcu.I2C_ARGB_Control("01", "FF", "00", "00", "00"), -2);
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(0), -2);
        QCOMPARE(mcu.I2C_Switch_to_Sync_Motherboard_Control(1), -2);
        QCOMPARE(mcu.I2C_Fan_Control(50), 0);
        QCOMPARE(mcu.Read_I2C_Fan_PWM(), 0);
        QCOMPARE(mcu.I2C_Read_ARGB_Value(1), earlier);
        QCOMPARE(mcu.I2C_Read_FW_Version(), earlier);
        QCOMPARE(mcu.lastCommandStatus, -1);
        QCOMPARE(mcu.lastOpenError, platform::kErrorFileNotFound);
        QCOMPARE(bus.journal(), QString());
        // The driver appears: the next operation reaches it.
        bus.driver.absent = false;
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(1), 5);
        QCOMPARE(mcu.lastOpenError, 0u);
    }
};

QTEST_GUILESS_MAIN(CardProtocolTest)
#include "tst_card_protocol.moc"
