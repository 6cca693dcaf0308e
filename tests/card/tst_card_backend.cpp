// The worker's card seam reaches the card operations and passes their
// results, failures and range error through unchanged.
#include "tests/card/fake_card_device.h"
#include "worker/backends.h"

#include <QtTest>

#include <memory>
#include <stdexcept>

class CardBackendTest : public QObject {
    Q_OBJECT

private slots:
    void forwardsOperationsAndResults()
    {
        auto card = std::make_shared<cardtest::FakeCard>();
        cardtest::FakeCardInstaller installer(card);
        card->replies[0x82] = QByteArray("\x4B\x00", 2);
        auto backend = worker::makeCardBackend("\\\\.\\NF_I2C_BUS_00_0X0060");

        QCOMPARE(backend->lastCommandStatus(), -1);
        QCOMPARE(backend->argbControl("0A", "ff", "80", "00", "fe"), 9);
        QVERIFY(card->journal.contains("W 03 11 " + cardtest::repeatedTriple("FF 00 80", 5)));
        QVERIFY(card->journal.contains("W 02 0A FE"));
        QCOMPARE(backend->commandSuccessCount(), 9);
        QCOMPARE(backend->lastCommandStatus(), 0);

        card->failPrefix = "W 01 01";
        QCOMPARE(backend->switchGpuMcuControl(1), 4);
        QCOMPARE(backend->lastCommandStatus(), 31);
        QCOMPARE(backend->switchSyncMotherboardControl(0), 4);
        card->failPrefix.clear();

        QCOMPARE(backend->fanControl(75), 3);
        QVERIFY_EXCEPTION_THROWN(backend->fanControl(256), std::out_of_range);
        QCOMPARE(backend->readFanPwm(), 75);
        QCOMPARE(backend->readArgbEffectSpeed(), QByteArray("\x4B\x00", 2));
        QCOMPARE(backend->readSyncCable(), QByteArray("\x4B\x00", 2));
        // The colour block read leaves the last reply in place.
        QCOMPARE(backend->readArgbValue(0), QByteArray("\x4B\x00", 2));
        QCOMPARE(backend->readFwVersion(), QByteArray(6, '\0'));
        QCOMPARE(card->devicesOpen, 0);
    }

    void reportsMissingDriver()
    {
        auto card = std::make_shared<cardtest::FakeCard>();
        card->openError = 2;
        cardtest::FakeCardInstaller installer(card);
        auto backend = worker::makeCardBackend("\\\\.\\NF_I2C_BUS_00_0X0060");
        QCOMPARE(backend->argbControl("01", "00", "00", "00", "00"), -2);
        QCOMPARE(backend->switchGpuMcuControl(0), -2);
        QCOMPARE(backend->switchSyncMotherboardControl(0), -2);
        QCOMPARE(backend->fanControl(30), 0);
        QCOMPARE(backend->readFanPwm(), 0);
        QCOMPARE(backend->readArgbValue(1), QByteArray());
        QCOMPARE(card->journal, QStringList());
    }
};

QTEST_GUILESS_MAIN(CardBackendTest)
#include "tst_card_backend.moc"
