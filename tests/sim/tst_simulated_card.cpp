// The emulated MCU's refusals, its fan reports, the endpoint's sequence
// request and the command line, driven in-process. What reaches the card
// through the program's own protocol is tested in tests/card.

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
    for (int i = 0; i < count; ++i)
        out.insert(out.end(), {r, b, g});
    return out;
}

} // namespace

class TestSimulatedCard : public QObject {
    Q_OBJECT

private slots:
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

    void commandLine()
    {
        Options o;
        std::string error;
        QVERIFY(parseOptions({"--runtime-dir", "/r", "--sysfs=/s", "--log", "/l", "--fault", "short-reply",
                              "--fault=error=5", "--sysfs-kernel", "6.14", "--sysfs-fan-channel=2"},
                             &o, &error));
        QCOMPARE(QString::fromStdString(o.sysfsKernel), QStringLiteral("6.14"));
        QCOMPARE(o.sysfsFanChannel, 2);
        QCOMPARE(QString::fromStdString(o.runtimeDir), QStringLiteral("/r"));
        QCOMPARE(QString::fromStdString(o.sysfsDir), QStringLiteral("/s"));
        QCOMPARE(QString::fromStdString(o.logFile), QStringLiteral("/l"));
        QVERIFY(o.faults.shortReply);
        QCOMPARE(o.faults.error.value_or(0), 5u);

        for (const std::vector<std::string> &bad :
             {std::vector<std::string>{"--log"}, {"--fault", "nonsense"}, {"--verbose"},
              {"--runtime-dir="}, {"extra"}, {"--sysfs-fan-channel", "0"}, {"--fault", "error=0"},
              {"--fault", "error=65536"}, {"--fault", "vanish-after=-3"}, {"--fault", "short-reply=1"}}) {
            Options other;
            error.clear();
            QVERIFY(!parseOptions(bad, &other, &error));
            QVERIFY(!error.empty());
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulatedCard)
#include "tst_simulated_card.moc"
