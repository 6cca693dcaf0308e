// The card operations against an in-process driver: the exact transfers, the
// pauses between them, counting, reply decoding and failure paths.
#include "mcu/card_mcu.h"
#include "tests/card/fake_card_device.h"

#include <QtTest>

#include <limits>
#include <memory>
#include <stdexcept>

using cardtest::FakeCard;
using cardtest::FakeCardInstaller;
using cardtest::repeatedTriple;

namespace {

const QString kPause = QStringLiteral("SLEEP 20");

QStringList g_messages;

void collectMessages(QtMsgType, const QMessageLogContext &, const QString &text)
{
    g_messages << text;
}

} // namespace

class CardProtocolTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<FakeCard> card;
    std::unique_ptr<FakeCardInstaller> installer;

    // The pauses land in the same journal as the transfers, so their order
    // against the transfers is checked too.
    mcu::CardMcu makeMcu()
    {
        auto journal = card;
        return mcu::CardMcu(mcu::kCardDevicePath, [journal](unsigned ms) {
            journal->journal << QStringLiteral("SLEEP %1").arg(ms);
        });
    }

    QStringList lightingJournal(const QString &triple, const QString &modeBytes) const
    {
        return {QStringLiteral("OPEN 0"), kPause,
                QStringLiteral("W 00 E3 00"), kPause,
                QStringLiteral("W 03 20 ") + repeatedTriple(triple, 10), kPause,
                QStringLiteral("W 03 20 ") + repeatedTriple(triple, 10), kPause,
                QStringLiteral("W 03 11 ") + repeatedTriple(triple, 5), kPause,
                QStringLiteral("W 00 E0 21"), kPause,
                QStringLiteral("W 02 ") + modeBytes, kPause,
                QStringLiteral("W 00 E0 2F"), kPause,
                QStringLiteral("W 01 01"),
                QStringLiteral("CLOSE")};
    }

private slots:
    void init()
    {
        card = std::make_shared<FakeCard>();
        installer = std::make_unique<FakeCardInstaller>(card);
    }

    void cleanup()
    {
        QCOMPARE(card->devicesOpen, 0);
        installer.reset();
    }

    void lightingSendsColourAsRedBlueGreenForAllLeds_data()
    {
        QTest::addColumn<QStringList>("args"); // effect, r, g, b, speed
        QTest::addColumn<QString>("triple");
        QTest::addColumn<QString>("modeBytes");
        QTest::newRow("red FF green 80 blue 00")
            << QStringList{"01", "ff", "80", "00", "02"} << "FF 00 80" << "01 02";
        QTest::newRow("one-digit texts") << QStringList{"0D", "f", "0", "a", "fe"}
                                         << "0F 0A 00" << "0D FE";
        QTest::newRow("lighting off") << QStringList{"01", "00", "00", "00", "00"} << "00 00 00"
                                      << "01 00";
    }

    void lightingSendsColourAsRedBlueGreenForAllLeds()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, triple);
        QFETCH(QString, modeBytes);
        auto mcu = makeMcu();
        QCOMPARE(mcu.I2C_ARGB_Control(args[0], args[1], args[2], args[3], args[4]), 9);
        QCOMPARE(mcu.commandSuccessCount, 9);
        QCOMPARE(mcu.lastCommandStatus, 0);
        QCOMPARE(card->journal, lightingJournal(triple, modeBytes));
        // The second byte of each colour transfer is that transfer's length.
        for (const QString &line : card->journal) {
            if (!line.startsWith(QLatin1String("W 03 ")))
                continue;
            const QStringList bytes = line.mid(2).split(QLatin1Char(' '));
            QCOMPARE(bytes.at(1).toInt(nullptr, 16), bytes.size());
        }
    }

    void lightingCountsOnlySucceededCommands()
    {
        card->failPrefix = QStringLiteral("W 00 E0 2F");
        auto mcu = makeMcu();
        QCOMPARE(mcu.I2C_ARGB_Control("01", "FF", "FF", "FF", "00"), 8);
        // A failed command does not stop the sequence.
        QCOMPARE(card->journal.filter(QRegularExpression("^W ")).size(), 8);
        QCOMPARE(card->journal.at(card->journal.size() - 2), QStringLiteral("W 01 01"));
        QCOMPARE(mcu.lastCommandStatus, 0);

        card->journal.clear();
        card->failPrefix = QStringLiteral("W 01 01");
        card->failError = platform::kErrorGenFailure;
        QCOMPARE(mcu.I2C_ARGB_Control("01", "FF", "FF", "FF", "00"), 8);
        QCOMPARE(mcu.lastCommandStatus, 31);
    }

    // Texts spliced into the lighting command must be bytes and nothing more;
    // otherwise the whole command is refused before the driver is touched.
    void lightingRefusesTextsThatAreNotBytes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("two bytes in red") << QStringList{"01", "FF 00", "00", "00", "02"};
        QTest::newRow("brace in green") << QStringList{"01", "00", "0}", "00", "02"};
        QTest::newRow("empty blue") << QStringList{"01", "00", "00", "", "02"};
        QTest::newRow("three digits") << QStringList{"01", "1FF", "00", "00", "02"};
        QTest::newRow("blank in speed") << QStringList{"01", "00", "00", "00", " 2"};
        // The byte parser would take "-1" as FF.
        QTest::newRow("sign") << QStringList{"01", "-1", "00", "00", "02"};
        QTest::newRow("non-ASCII digit") << QStringList{"01", QString::fromUtf8("\xd9\xa1"), "00",
                                                        "00", "02"};
        QTest::newRow("extra transfer in effect") << QStringList{"01} {00", "00", "00", "00", "02"};
    }

    void lightingRefusesTextsThatAreNotBytes()
    {
        QFETCH(QStringList, args);
        auto mcu = makeMcu();
        mcu.commandSuccessCount = 7;
        QCOMPARE(mcu.I2C_ARGB_Control(args[0], args[1], args[2], args[3], args[4]), 0);
        QCOMPARE(mcu.commandSuccessCount, 0);
        QVERIFY(mcu.lastCommandStatus != 0);
        QCOMPARE(card->journal, QStringList());
    }

    void switchesSendModeWriteAndPauses_data()
    {
        QTest::addColumn<bool>("syncSwitch");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("result");
        const QString open = QStringLiteral("OPEN 0");
        const QString select = QStringLiteral("W 00 E0 21");
        const QString done = QStringLiteral("W 00 E0 2F");
        const QString commit = QStringLiteral("W 01 01");
        const QString close = QStringLiteral("CLOSE");
        // No pause between the fan mode write and the next write.
        QTest::newRow("fan to MCU") << false << 0
            << QStringList{open, kPause, select, kPause, "W 02 80 00", done, kPause, commit, close}
            << 5;
        QTest::newRow("fan to GPU") << false << 1
            << QStringList{open, kPause, select, kPause, "W 02 80 01", done, kPause, commit, close}
            << 5;
        QTest::newRow("fan, unknown mode") << false << 2
            << QStringList{open, kPause, select, kPause, done, kPause, commit, close} << 4;
        QTest::newRow("lighting to card") << true << 0
            << QStringList{open, kPause, select, kPause, "W 02 81 00", kPause, done, kPause,
                           commit, close}
            << 5;
        QTest::newRow("lighting to motherboard") << true << 1
            << QStringList{open, kPause, select, kPause, "W 02 81 01", kPause, done, kPause,
                           commit, close}
            << 5;
        // The pause after the mode step stays even when nothing was sent.
        QTest::newRow("lighting, unknown mode") << true << -1
            << QStringList{open, kPause, select, kPause, kPause, done, kPause, commit, close}
            << 4;
    }

    void switchesSendModeWriteAndPauses()
    {
        QFETCH(bool, syncSwitch);
        QFETCH(int, mode);
        QFETCH(QStringList, expected);
        QFETCH(int, result);
        auto mcu = makeMcu();
        const int got = syncSwitch ? mcu.I2C_Switch_to_Sync_Motherboard_Control(mode)
                                   : mcu.I2C_Switch_GPU_MCU_Control(mode);
        QCOMPARE(got, result);
        QCOMPARE(mcu.commandSuccessCount, result);
        QCOMPARE(card->journal, expected);
    }

    void fanDutyTravelsAsOneByte_data()
    {
        QTest::addColumn<int>("duty");
        QTest::addColumn<QString>("write");
        QTest::newRow("100") << 100 << "W 01 64";
        QTest::newRow("5") << 5 << "W 01 05";
        QTest::newRow("0") << 0 << "W 01 00";
        QTest::newRow("255") << 255 << "W 01 FF";
    }

    void fanDutyTravelsAsOneByte()
    {
        QFETCH(int, duty);
        QFETCH(QString, write);
        auto mcu = makeMcu();
        QCOMPARE(mcu.I2C_Fan_Control(duty), 3);
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 D8 10", kPause, write,
                                             "CLOSE"}));
    }

    void fanDutyOutOfRangeThrowsAfterClosing_data()
    {
        QTest::addColumn<int>("duty");
        QTest::newRow("256") << 256;
        QTest::newRow("-1") << -1;
        QTest::newRow("most negative") << std::numeric_limits<int>::min();
    }

    void fanDutyOutOfRangeThrowsAfterClosing()
    {
        QFETCH(int, duty);
        auto mcu = makeMcu();
        QString what;
        QStringList journalAtThrow;
        try {
            mcu.I2C_Fan_Control(duty);
        } catch (const std::out_of_range &error) {
            what = QString::fromLatin1(error.what());
            journalAtThrow = card->journal;
        }
        QCOMPARE(what, QStringLiteral("ERROR: IntToUint8 input: 0 to 255"));
        QCOMPARE(journalAtThrow,
                 (QStringList{"OPEN 0", kPause, "W 00 D8 10", kPause, "CLOSE"}));
        QCOMPARE(mcu.commandSuccessCount, 2);

        // The process-wide connection is usable again.
        card->journal.clear();
        QCOMPARE(mcu.I2C_Fan_Control(50), 3);
        QCOMPARE(card->journal.at(4), QStringLiteral("W 01 32"));
    }

    void fanReadDecodesLittleEndian_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("value");
        QTest::newRow("34 12") << QByteArray("\x34\x12", 2) << 4660;
        QTest::newRow("both bytes unsigned") << QByteArray("\xFF\xFF", 2) << 65535;
        QTest::newRow("one byte") << QByteArray("\x34", 1) << 0;
        QTest::newRow("no bytes") << QByteArray() << 0;
    }

    void fanReadDecodesLittleEndian()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, value);
        card->replies[0x82] = reply;
        auto mcu = makeMcu();
        mcu.lastCommandStatus = 123;
        mcu.commandSuccessCount = 4;
        QCOMPARE(mcu.Read_I2C_Fan_PWM(), value);
        QCOMPARE(mcu.i2cReplyBuffer, reply);
        const QString wr = QStringLiteral("WR 82 ->")
            + (reply.isEmpty() ? QString() : " " + cardtest::hexBytes(reply));
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 D8 00", kPause, wr, kPause,
                                             "CLOSE"}));
        // Reads are not counted.
        QCOMPARE(mcu.lastCommandStatus, 123);
        QCOMPARE(mcu.commandSuccessCount, 4);
    }

    void fanValueNeedsExactlyTwoBytes()
    {
        QCOMPARE(mcu::CardMcu::decodeFanValue(QByteArray("\x34\x12\x00", 3)), 0);
        QCOMPARE(mcu::CardMcu::decodeFanValue(QByteArray("\x00\x01", 2)), 256);
    }

    void readsStoreTheirReply()
    {
        card->replies[0x85] = QByteArray("\x00\xFF\x80\x10", 4);
        card->replies[0x82] = QByteArray("\x0B\xFE", 2);
        card->replies[0x86] = QByteArray("\x01\x02\x03\x04\x05\x06", 6);
        auto mcu = makeMcu();

        QCOMPARE(mcu.I2C_Read_ARGB_Value(1), card->replies[0x85]);
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 E3 00", kPause,
                                             "WR 85 -> 00 FF 80 10", "CLOSE"}));
        card->journal.clear();

        QCOMPARE(mcu.I2C_Read_ARGB_Effect_Speed(), card->replies[0x82]);
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 E0 21", kPause,
                                             "WR 82 -> 0B FE", "CLOSE"}));
        card->journal.clear();

        QCOMPARE(mcu.Read_Check_MB_Sync_Cable(), card->replies[0x82]);
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 E0 FE", kPause,
                                             "WR 82 -> 0B FE", "CLOSE"}));
        card->journal.clear();

        QCOMPARE(mcu.I2C_Read_FW_Version(), card->replies[0x86]);
        QCOMPARE(mcu.i2cReplyBuffer, card->replies[0x86]);
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 B5 00", kPause,
                                             "WR 86 -> 01 02 03 04 05 06", kPause, "CLOSE"}));
    }

    void colourBlockReadKeepsTheBuffer()
    {
        auto mcu = makeMcu();
        mcu.i2cReplyBuffer = QByteArray("\x07\x08", 2);
        QCOMPARE(mcu.I2C_Read_ARGB_Value(0), QByteArray("\x07\x08", 2));
        QCOMPARE(mcu.i2cReplyBuffer, QByteArray("\x07\x08", 2));
        const QString block = QStringLiteral("WR A0 -> ") + QString("00 ").repeated(31) + "00";
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 E3 00", kPause, block,
                                             kPause, block, kPause, block, "CLOSE"}));

        card->journal.clear();
        QCOMPARE(mcu.I2C_Read_ARGB_Value(5), QByteArray("\x07\x08", 2));
        QCOMPARE(card->journal, (QStringList{"OPEN 0", kPause, "W 00 E3 00", kPause, "CLOSE"}));
    }

    void failedReadEmptiesTheBuffer()
    {
        card->failPrefix = QStringLiteral("WR ");
        auto mcu = makeMcu();
        mcu.i2cReplyBuffer = QByteArray("\x01\x02", 2);
        QCOMPARE(mcu.I2C_Read_ARGB_Effect_Speed(), QByteArray());
        QCOMPARE(mcu.i2cReplyBuffer, QByteArray());
    }

    void missingDriverSendsNothing()
    {
        card->openError = platform::kErrorFileNotFound;
        auto mcu = makeMcu();
        const QByteArray earlier("\x0A\x0B", 2);
        mcu.i2cReplyBuffer = earlier;

        QCOMPARE(mcu.I2C_ARGB_Control("01", "FF", "00", "00", "00"), -2);
        QCOMPARE(mcu.commandSuccessCount, -2);
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(0), -2);
        QCOMPARE(mcu.I2C_Switch_to_Sync_Motherboard_Control(1), -2);
        QCOMPARE(mcu.I2C_Fan_Control(50), 0);
        QCOMPARE(mcu.commandSuccessCount, 0);
        QCOMPARE(mcu.Read_I2C_Fan_PWM(), 0);
        QCOMPARE(mcu.I2C_Read_ARGB_Value(1), earlier);
        QCOMPARE(mcu.I2C_Read_ARGB_Effect_Speed(), earlier);
        QCOMPARE(mcu.Read_Check_MB_Sync_Cable(), earlier);
        QCOMPARE(mcu.I2C_Read_FW_Version(), earlier);
        QCOMPARE(mcu.lastCommandStatus, -1);
        QCOMPARE(card->journal, QStringList());

        // The driver appears: the next operation reaches it.
        card->openError = 0;
        QCOMPARE(mcu.I2C_Switch_GPU_MCU_Control(1), 5);
    }

    void debugLogCarriesHeadersAndCommands()
    {
        g_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectMessages);
        auto mcu = makeMcu();
        mcu.I2C_Switch_to_Sync_Motherboard_Control(0);
        mcu.I2C_ARGB_Control("01", "FF", "80", "00", "02");
        mcu.Read_Check_MB_Sync_Cable();
        qInstallMessageHandler(previous);

        QVERIFY(g_messages.contains(
            "\n=================== I2C_Switch_to_Sync_Motherboard_Control ========================"));
        QVERIFY(g_messages.contains("CMD: Write {02 81 00}"));
        QVERIFY(g_messages.contains(
            "\n=================== Read_Check_MB_Sync_Cable ========================"));
        QVERIFY(g_messages.contains("CMD: Writeread {82} 2"));
        // The built lighting texts go to the log as they are.
        const QString colours = QStringLiteral("Write {03 20") + QString(" FF 00 80").repeated(10)
            + "}";
        QCOMPARE(colours.size(), 103);
        QCOMPARE(g_messages.count(colours), 2);
        QVERIFY(g_messages.contains("Write {02 01 02}"));
    }
};

QTEST_GUILESS_MAIN(CardProtocolTest)
#include "tst_card_protocol.moc"
