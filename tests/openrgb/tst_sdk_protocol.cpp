// The SDK server against bytes written out by hand from OpenRGB's protocol
// description: what a client sends, what comes back, what the owner is told.

#include "openrgb/sdkserver.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

using namespace openrgb;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// header: magic, device 0, packet id, data size
QByteArray pkt(const char *id, const QByteArray &data)
{
    QByteArray size(4, '\0');
    qToLittleEndian<quint32>(quint32(data.size()), size.data());
    return hex("4f524742 00000000") + hex(id) + size + data;
}

// One controller: one mode "M" (speed and one colour), one zone "Z", one LED "L".
Controller sample()
{
    Controller c;
    c.name = "N"; c.vendor = "V"; c.description = "D"; c.version = "1"; c.location = "L";
    Mode m;
    m.name = "M"; m.value = 7; m.flags = 0x41; m.speedMin = 1; m.speedMax = 5;
    m.coloursMin = m.coloursMax = 1; m.speed = 3; m.colourMode = 2; m.colours = {0xFF};
    c.modes = {m};
    c.zones = {Zone{"Z", 0, 1, 1, 1}};
    c.leds = {Led{"L", 0}};
    c.colours = {0xFF};
    return c;
}

// The pieces of the sample's controller data, by the version that brought them.
const char kType[] = "02000000 0200 4e00", kVendor[] = "0200 5600",
           kRest[] = "0200 4400 0200 3100 0100 00 0200 4c00 0100 00000000";
const char kModeV0[] = "0200 4d00 07000000 41000000 01000000 05000000 01000000 01000000 03000000"
                       " 00000000 02000000 0100 ff000000";
const char kModeV3[] = "0200 4d00 07000000 41000000 01000000 05000000 00000000 00000000 01000000"
                       " 01000000 03000000 00000000 00000000 02000000 0100 ff000000";
const char kZone[] = "0100 0200 5a00 00000000 01000000 01000000 01000000 0000";
const char kLeds[] = "0100 0200 4c00 00000000 0100 ff000000";

QByteArray controllerV(int v)
{
    const char *sizes[] = {"77000000", "7b000000", "7b000000", "87000000", "89000000", "93000000"};
    return hex(sizes[v]) + hex(kType) + (v >= 1 ? hex(kVendor) : QByteArray()) + hex(kRest)
        + hex(v >= 3 ? kModeV3 : kModeV0) + hex(kZone) + (v >= 4 ? hex("0000") : QByteArray())
        + (v >= 5 ? hex("00000000") : QByteArray()) + hex(kLeds) + (v >= 5 ? hex("0000 00000000") : QByteArray());
}

const QByteArray kCount = pkt("00000000", {});
const QByteArray kCountReply = pkt("00000000", hex("01000000"));
QByteArray version(const char *v) { return pkt("28000000", hex(v)); }
const QByteArray kVersionReply = pkt("28000000", hex("05000000"));
// UpdateMode of mode 2 with the sample's mode block
const QByteArray kUpdateV0 = pkt("4d040000", hex("36000000 02000000") + hex(kModeV0));
const QByteArray kUpdateV3 = pkt("4d040000", hex("42000000 02000000") + hex(kModeV3));
const QByteArray kSaveV3 = pkt("4e040000", hex("42000000 02000000") + hex(kModeV3));

} // namespace

class SdkProtocolTest : public QObject {
    Q_OBJECT

    SdkServer server;
    QStringList events;

    void connectClient(QTcpSocket &client)
    {
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client.waitForConnected(5000));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen(0));
        server.setController(sample());
        connect(&server, &SdkServer::modeRequested, this, [this](int i, const Mode &m, bool save) {
            events << QString("mode %1 %2 speed %3 colour %4%5").arg(i).arg(QString(m.name)).arg(m.speed)
                          .arg(m.colours.value(0), 0, 16).arg(save ? " saved" : "");
        });
        connect(&server, &SdkServer::customModeRequested, this, [this] { events << "custom"; });
        connect(&server, &SdkServer::ledColoursRequested, this, [this](const QVector<Colour> &c) {
            events << QString("leds %1").arg(c.value(0), 0, 16);
        });
    }

    void packets_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("controller count") << kCount << kCountReply << QStringList();
        QTest::newRow("protocol version") << version("03000000") << kVersionReply << QStringList();
        const char *versions[] = {"", "01000000", "02000000", "03000000", "04000000", "05000000"};
        for (int v = 0; v <= 5; ++v)
            QTest::addRow("controller data v%d", v) << pkt("01000000", hex(versions[v]))
                                                    << pkt("01000000", controllerV(v)) << QStringList();
        QTest::newRow("controller data v9 served as v5")
            << pkt("01000000", hex("09000000")) << pkt("01000000", controllerV(5)) << QStringList();
        QTest::newRow("client name") << pkt("32000000", QByteArray("tester", 7)) << QByteArray() << QStringList();
        QTest::newRow("profile list") << pkt("96000000", {}) << pkt("96000000", hex("06000000 0000")) << QStringList();
        QTest::newRow("plugin list") << pkt("c8000000", {}) << pkt("c8000000", hex("06000000 0000")) << QStringList();
        QTest::newRow("update mode v0") << kUpdateV0 << QByteArray() << QStringList{"mode 2 M speed 3 colour ff"};
        QTest::newRow("update mode v3") << version("03000000") + kUpdateV3 << kVersionReply
                                        << QStringList{"mode 2 M speed 3 colour ff"};
        QTest::newRow("update mode v5") << version("05000000") + kUpdateV3 << kVersionReply
                                        << QStringList{"mode 2 M speed 3 colour ff"};
        QTest::newRow("save mode v3") << version("03000000") + kSaveV3 << kVersionReply
                                      << QStringList{"mode 2 M speed 3 colour ff saved"};
        QTest::newRow("set custom mode") << pkt("4c040000", {}) << QByteArray() << QStringList{"custom"};
        QTest::newRow("update LEDs") << pkt("1a040000", hex("0a000000 0100 00ff0000")) << QByteArray()
                                     << QStringList{"leds ff00"};
        QTest::newRow("update zone LEDs") << pkt("1b040000", hex("0e000000 00000000 0100 00ff0000"))
                                          << QByteArray() << QStringList{"leds ff00"};
        QTest::newRow("update zone LEDs, no such zone") << pkt("1b040000", hex("0e000000 01000000 0100 00ff0000"))
                                                        << QByteArray() << QStringList();
        QTest::newRow("update single LED") << pkt("1c040000", hex("00000000 00ff0000")) << QByteArray()
                                           << QStringList{"leds ff00"};
        QTest::newRow("resize zone") << pkt("e8030000", hex("00000000 05000000")) << QByteArray() << QStringList();
        QTest::newRow("update mode, truncated block") << pkt("4d040000", hex("36000000 02000000 0200 4d00"))
                                                      << QByteArray() << QStringList();
        QTest::newRow("another device") << hex("4f524742 01000000 4c040000 00000000") << QByteArray()
                                        << QStringList();
        QTest::newRow("bad magic") << hex("4f524758 00000000 00000000 00000000") << QByteArray()
                                   << QStringList{"closed"};
        QTest::newRow("over 1 MiB") << hex("4f524742 00000000 4d040000 01001000") << QByteArray()
                                    << QStringList{"closed"};
    }
    void packets()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, replies);
        QFETCH(QStringList, told);
        events.clear();
        QTcpSocket client;
        connectClient(client);
        connect(&client, &QTcpSocket::disconnected, this, [this] { events << "closed"; });
        // A byte at a time: the server must put packets together from pieces.
        // The count request behind them shows they were all handled.
        for (char byte : sent + kCount) {
            client.write(&byte, 1);
            client.flush();
        }
        const QByteArray expected = told.contains("closed") ? QByteArray() : replies + kCountReply;
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += client.readAll()).size() >= expected.size()
                                     && (!told.contains("closed") || client.state() == QAbstractSocket::UnconnectedState),
                                 5000);
        QCOMPARE(got.toHex(' '), expected.toHex(' '));
        QCOMPARE(events, told);
    }

    // Eight clients at most; one stuck in the middle of a packet holds up nobody.
    void clientsCannotHoldTheServer()
    {
        QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 0, 5000);
        QTcpSocket slow, others[7], ninth;
        connectClient(slow);
        slow.write(kCount.left(5));
        QVERIFY(slow.waitForBytesWritten(5000));
        for (QTcpSocket &s : others) {
            connectClient(s);
            s.write(kCount);
        }
        for (QTcpSocket &s : others)
            QTRY_COMPARE_WITH_TIMEOUT(s.bytesAvailable(), qint64(kCountReply.size()), 5000);
        QCOMPARE(server.clientCount(), 8);
        connectClient(ninth);
        QTRY_COMPARE_WITH_TIMEOUT(ninth.state(), QAbstractSocket::UnconnectedState, 5000);
        slow.write(kCount.mid(5));
        QByteArray got;
        QTRY_COMPARE_WITH_TIMEOUT(got += slow.readAll(), kCountReply, 5000);

        // Turned off with clients connected: they are let go, nothing is left behind.
        server.close();
        QTRY_COMPARE_WITH_TIMEOUT(slow.state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(server.clientCount(), 0);
    }
};

QTEST_GUILESS_MAIN(SdkProtocolTest)
#include "tst_sdk_protocol.moc"
