// The emulated MCU, the endpoint's request handling and the command line,
// driven in-process.

#include "platform/control_codes.h"
#include "platform/overlapped.h"
#include "sim/card/card_endpoint.h"
#include "sim/card/options.h"
#include "sim/card/simulated_mcu.h"

#include <QtTest>

using namespace cardsim;
using Bytes = std::vector<std::uint8_t>;
using platform::wire::Op;
using platform::wire::Request;

namespace {

Request writeRequest(Bytes bytes)
{
    Request r;
    r.op = Op::Write;
    r.input = std::move(bytes);
    return r;
}

Request controlRequest(std::uint32_t code, Bytes in = {}, std::uint32_t outLength = 0)
{
    Request r;
    r.op = Op::IoControl;
    r.code = code;
    r.input = std::move(in);
    r.outLength = outLength;
    return r;
}

// The colour write for `count` LEDs of one colour, in wire order R, B, G.
Bytes colourWrite(int count, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    Bytes out{0x03, std::uint8_t(2 + 3 * count)};
    for (int i = 0; i < count; ++i) {
        out.push_back(r);
        out.push_back(b);
        out.push_back(g);
    }
    return out;
}

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestSimulatedCard : public QObject {
    Q_OBJECT

private slots:
    void lightingSequenceSetsEffectSpeedAndColour()
    {
        SimulatedMcu mcu;
        QVERIFY(mcu.write({0x00, 0xE3, 0x00}));
        QVERIFY(mcu.write(colourWrite(10, 0xFF, 0x80, 0x00)));
        QVERIFY(mcu.write(colourWrite(10, 0xFF, 0x80, 0x00)));
        QVERIFY(mcu.write(colourWrite(5, 0xFF, 0x80, 0x00)));
        QVERIFY(mcu.write({0x00, 0xE0, 0x21}));
        QVERIFY(mcu.write({0x02, 0x0C, 0xFF}));
        QVERIFY(mcu.write({0x00, 0xE0, 0x2F}));
        QVERIFY(mcu.write({0x01, 0x01}));
        QCOMPARE(mcu.effect(), std::uint8_t(0x0C));
        QCOMPARE(mcu.speed(), std::uint8_t(0xFF));
        QCOMPARE(mcu.commits(), 1);

        QVERIFY(mcu.write({0x00, 0xE0, 0x21}));
        QCOMPARE(mcu.writeRead({0x82}, 2), (Bytes{0x0C, 0xFF}));
        QVERIFY(mcu.write({0x00, 0xE3, 0x00}));
        QCOMPARE(mcu.writeRead({0x85}, 4), (Bytes{0x00, 0xFF, 0x80, 0x00}));
        const Bytes raw = mcu.writeRead({0xA0}, 32);
        QCOMPARE(raw.size(), std::size_t(32));
        QCOMPARE((Bytes(raw.begin(), raw.begin() + 6)), (Bytes{0xFF, 0x00, 0x80, 0xFF, 0x00, 0x80}));
    }

    void transfersTheMcuDoesNotAcknowledge()
    {
        SimulatedMcu mcu;
        QVERIFY(!mcu.write({}));
        QVERIFY(mcu.write({0x82})); // only points the next read
        QVERIFY(!mcu.write({0x02, 0x05, 0x00})); // mode write without its select
        QVERIFY(mcu.write({0x00, 0xE0, 0x21}));
        QVERIFY(!mcu.write({0x02, 0x0E, 0x00})); // no effect 14
        QVERIFY(!mcu.write({0x02, 0x00, 0x00}));
        QVERIFY(!mcu.write({0x02, 0x80, 0x02}));
        QCOMPARE(mcu.effect(), std::uint8_t(0x01));
        QVERIFY(!mcu.write(colourWrite(10, 1, 2, 3))); // colour without its select
        QVERIFY(mcu.write({0x00, 0xE3, 0x00}));
        Bytes wrongLength = colourWrite(10, 1, 2, 3);
        wrongLength[1] = 0x11;
        QVERIFY(!mcu.write(wrongLength));
        QVERIFY(mcu.write(colourWrite(10, 1, 2, 3)));
        QVERIFY(mcu.write(colourWrite(10, 1, 2, 3)));
        QVERIFY(!mcu.write(colourWrite(10, 1, 2, 3))); // only 25 LEDs
        QVERIFY(!mcu.write({0x00, 0xE0}));
        QVERIFY(!mcu.write({0x07, 0x01}));
        QVERIFY(!mcu.write({0x01, 0x02}));
    }

    void fanDutyAndControlAreReported()
    {
        SimulatedMcu mcu;
        QList<SimulatedMcu::FanState> seen;
        mcu.setFanListener([&](const SimulatedMcu::FanState &s) { seen << s; });
        QVERIFY(mcu.write({0x00, 0xD8, 0x10}));
        QVERIFY(mcu.write({0x01, 0x64}));
        QVERIFY(mcu.write({0x01, 0x64})); // no change, no report
        QVERIFY(mcu.write({0x00, 0xD8, 0x00}));
        QCOMPARE(mcu.writeRead({0x82}, 2), (Bytes{0x64, 0x00}));
        QVERIFY(mcu.write({0x00, 0xE0, 0x21}));
        QVERIFY(mcu.write({0x02, 0x80, 0x00}));
        QCOMPARE(seen.size(), 2);
        QCOMPARE(int(seen[0].duty), 100);
        QVERIFY(!seen[0].cardDrivesFan);
        QCOMPARE(int(seen[1].duty), 100);
        QVERIFY(seen[1].cardDrivesFan);
        QVERIFY(mcu.write({0x02, 0x80, 0x01}));
        QVERIFY(!mcu.fan().cardDrivesFan);
        QCOMPARE(seen.size(), 3);

        QVERIFY(mcu.write({0x02, 0x81, 0x01}));
        QVERIFY(mcu.lightingFollowsBoard());
        QCOMPARE(mcu.effect(), std::uint8_t(0x01)); // a switch is no effect
    }

    void syncCableAndFirmware()
    {
        SimulatedMcu mcu;
        mcu.setSyncCableConnected(true);
        QVERIFY(mcu.write({0x00, 0xE0, 0xFE}));
        QCOMPARE(mcu.writeRead({0x82}, 2), (Bytes{0x01, 0x00}));
        QVERIFY(mcu.write({0x00, 0xB5, 0x00}));
        const Bytes fw = mcu.writeRead({0x86}, 6);
        QCOMPARE(fw, Bytes(SimulatedMcu::kFirmwareVersion.begin(), SimulatedMcu::kFirmwareVersion.end()));
        // A plain read repeats the last register; longer reads pad with zeros.
        QCOMPARE(mcu.read(7), (Bytes{fw[0], fw[1], fw[2], fw[3], fw[4], fw[5], 0x00}));
        // The register answers what the selection made it.
        QVERIFY(mcu.write({0x00, 0xE0, 0x21}));
        QCOMPARE(mcu.writeRead({0x82}, 2), (Bytes{0x01, 0x00}));
        QCOMPARE(mcu.writeRead({0x86}, 2), (Bytes{0x00, 0x00}));
    }

    void endpointAnswersAndLogs()
    {
        QTemporaryDir dir;
        const QString log = dir.path() + "/transfers.log";
        CardEndpoint card(Faults{});
        QVERIFY(card.openLog(log.toStdString()));

        auto a = card.handle(controlRequest(platform::kIoctlOpenTarget, {0, 0, 0, 0}));
        QCOMPARE(a.status, 0u);
        a = card.handle(writeRequest({0x00, 0xE0, 0x21}));
        QCOMPARE(a.status, 0u);
        QCOMPARE(a.information, 3u);
        QCOMPARE(a.pendingMs, -1);
        a = card.handle(controlRequest(platform::kIoctlWriteRead, {0x82}, 2));
        QCOMPARE(a.data, (Bytes{0x01, 0x00}));
        QCOMPARE(a.information, 2u);
        Request read;
        read.op = Op::Read;
        read.outLength = 1;
        card.handle(read);
        a = card.handle(controlRequest(platform::kIoctlGpio, {3, 0, 0, 0, 0, 1, 0, 0}, 8));
        a = card.handle(controlRequest(platform::kIoctlGpio, {3, 0, 0, 0, 1, 0, 0, 0}, 8));
        QCOMPARE(a.data[5], std::uint8_t(1)); // the level set before reads back
        a = card.handle(controlRequest(platform::kIoctlPdInterrupt, {}, 1));
        QCOMPARE(a.information, 1u);
        a = card.handle(writeRequest({0x09, 0x00}));
        QCOMPARE(a.status, platform::kErrorGenFailure);
        a = card.handle(controlRequest(platform::kIoctlOpenTarget, {0}));
        QCOMPARE(a.status, platform::kErrorInvalidParameter);
        a = card.handle(controlRequest(platform::controlCode(0x7FF)));
        QCOMPARE(a.status, 1u);
        for (std::uint32_t code : {platform::kIoctlCloseTarget, platform::kIoctlLockBus,
                                   platform::kIoctlUnlockBus, platform::kIoctlLockConnection,
                                   platform::kIoctlUnlockConnection,
                                   platform::kIoctlSignalInterrupt})
            QCOMPARE(card.handle(controlRequest(code)).status, 0u);
        card.handle(controlRequest(platform::kIoctlEnableInterrupt, {1, 0, 0, 0}));
        card.handle(controlRequest(platform::kIoctlDisableInterrupt, {1, 0, 0, 0}));

        QCOMPARE(readLines(log), (QStringList{
                                     "OPEN 0", "W 00 E0 21", "WR 82 -> 01 00", "R -> 01",
                                     "GPIO", "GPIO", "PDI", "CLOSE", "LOCK", "UNLOCK",
                                     "LOCKCONN", "UNLOCKCONN", "SIGNAL", "INTENABLE",
                                     "INTDISABLE"}));
    }

    void sequenceRunsAgainstTheMcu()
    {
        CardEndpoint card(Faults{});
        // -s {00 E0 21}, -s {82}, -s 2 : writes select and register, then reads.
        Bytes in;
        for (std::uint32_t v : {68u, 3u, 0u, 0u, 0u, 1u, 2u, 0u, 3u, 1u, 2u, 0u, 1u, 1u, 1u, 0u, 2u})
            for (int i = 0; i < 4; ++i)
                in.push_back(std::uint8_t(v >> (8 * i)));
        for (std::uint8_t b : {0x00, 0xE0, 0x21, 0x82})
            in.push_back(b);
        auto a = card.handle(controlRequest(platform::kIoctlSequence, in, 3));
        QCOMPARE(a.status, 0u);
        QCOMPARE(a.data, (Bytes{0x01, 0x00}));
        a = card.handle(controlRequest(platform::kIoctlSequence, in, 1));
        QCOMPARE(a.status, platform::kErrorInsufficientBuffer);
        in.pop_back();
        a = card.handle(controlRequest(platform::kIoctlSequence, in, 3));
        QCOMPARE(a.status, platform::kErrorInvalidParameter);
    }

    void faultsShapeTheAnswers()
    {
        Faults faults;
        QVERIFY(faults.add("error=31"));
        CardEndpoint failing(faults);
        QCOMPARE(failing.handle(writeRequest({0x00, 0xE0, 0x21})).status, 31u);
        QCOMPARE(failing.handle(controlRequest(platform::kIoctlCloseTarget)).status, 31u);

        Faults pending;
        QVERIFY(pending.add("pending-write-ms=700"));
        CardEndpoint slow(pending);
        Request w = writeRequest({0x00, 0xE0, 0x21});
        QCOMPARE(slow.handle(w).pendingMs, 700);
        QCOMPARE(slow.handle(controlRequest(platform::kIoctlWriteRead, {0x82}, 2)).pendingMs, -1);
        const auto done = slow.finish(w);
        QCOMPARE(done.status, 0u);
        QCOMPARE(done.information, 3u);

        Faults vanish;
        QVERIFY(vanish.add("vanish-after=2"));
        CardEndpoint going(vanish);
        QVERIFY(!going.handle(controlRequest(platform::kIoctlOpenTarget, {0, 0, 0, 0})).withdraw);
        QVERIFY(!going.handle(writeRequest({0x00, 0xE0, 0x21})).withdraw);
        QVERIFY(going.handle(controlRequest(platform::kIoctlWriteRead, {0x82}, 2)).withdraw);
    }

    void faultTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("error") << "error=31" << true;
        QTest::newRow("error zero") << "error=0" << false;
        QTest::newRow("error too big") << "error=65536" << false;
        QTest::newRow("error not a number") << "error=x1" << false;
        QTest::newRow("pending") << "pending-write-ms=600" << true;
        QTest::newRow("pending empty") << "pending-write-ms=" << false;
        QTest::newRow("short") << "short-reply" << true;
        QTest::newRow("short with value") << "short-reply=1" << false;
        QTest::newRow("long") << "long-reply" << true;
        QTest::newRow("vanish") << "vanish-after=3" << true;
        QTest::newRow("vanish negative") << "vanish-after=-3" << false;
        QTest::newRow("unknown") << "slow" << false;
    }
    void faultTexts()
    {
        QFETCH(QString, text);
        Faults f;
        QTEST(f.add(text.toStdString()), "accepted");
    }

    void commandLine()
    {
        Options o;
        std::string error;
        QVERIFY(parseOptions({"--runtime-dir", "/r", "--sysfs=/s", "--log", "/l", "--fault",
                              "short-reply", "--fault=error=5"},
                             &o, &error));
        QCOMPARE(QString::fromStdString(o.runtimeDir), QStringLiteral("/r"));
        QCOMPARE(QString::fromStdString(o.sysfsDir), QStringLiteral("/s"));
        QCOMPARE(QString::fromStdString(o.logFile), QStringLiteral("/l"));
        QVERIFY(o.faults.shortReply);
        QCOMPARE(o.faults.error.value_or(0), 5u);

        for (const std::vector<std::string> &bad :
             {std::vector<std::string>{"--log"}, {"--fault", "nonsense"}, {"--verbose"},
              {"--runtime-dir="}, {"extra"}}) {
            Options other;
            error.clear();
            QVERIFY(!parseOptions(bad, &other, &error));
            QVERIFY(!error.empty());
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulatedCard)
#include "tst_simulated_card.moc"
