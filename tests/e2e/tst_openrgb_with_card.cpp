// The program on the simulated card with an OpenRGB SDK client of the test's
// own: off unless chosen, on loopback only, and an SDK change reaches the card
// as the lighting page's click does.

#include "program.h"
#include "openrgb/sdkprotocol.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

// What request 1 of the lighting page sends: the lighting taken back from the
// motherboard, then the effect in one colour at one speed byte.
QStringList lightingClick(const QString &effect, const QString &rgb, const QString &speed)
{
    return {"OPEN 0", "W 00 E0 21", "W 02 81 00", "W 00 E0 2F", "W 01 01",
            "OPEN 0", "W 00 E3 00", "W 03 20 " + repeated(rgb, 10), "W 03 20 " + repeated(rgb, 10),
            "W 03 11 " + repeated(rgb, 5), "W 00 E0 21", "W 02 " + effect + " " + speed, "W 00 E0 2F", "W 01 01"};
}

QStringList listeners(quint16 port)
{
    QProcess ss;
    ss.start("ss", {"-ltnH", QString("sport = :%1").arg(port)});
    if (!ss.waitForFinished(10000))
        return {"ss did not finish"};
    QStringList local;
    for (const QString &line : QString(ss.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        local << line.simplified().section(' ', 3, 3);
    return local;
}

// A small SDK client: one request, one reply.
struct Client {
    QTcpSocket socket;
    QByteArray in;
    QByteArray ask(quint32 id, const QByteArray &data)
    {
        socket.write(openrgb::packet(0, id, data));
        const auto whole = [&] {
            in += socket.readAll();
            return in.size() >= 16 && in.size() >= 16 + qFromLittleEndian<qint32>(in.constData() + 12);
        };
        if (!QTest::qWaitFor(whole, 10000))
            return {};
        const QByteArray reply = in.mid(16, qFromLittleEndian<qint32>(in.constData() + 12));
        in.clear();
        return reply;
    }
    // The active mode, behind six texts (name, vendor, description, version,
    // serial, location) and the mode count in the layout of version 5.
    int activeMode()
    {
        const QByteArray d = ask(openrgb::Packet::RequestControllerData, openrgb::uint32Data(5));
        int at = 8;
        for (int text = 0; text < 6 && at + 2 <= d.size(); ++text)
            at += 2 + qFromLittleEndian<quint16>(d.constData() + at);
        return at + 6 <= d.size() ? qFromLittleEndian<qint32>(d.constData() + at + 2) : -1;
    }
    void setMode(int index, const openrgb::Mode &mode)
    {
        const QByteArray body = openrgb::uint32Data(quint32(index)) + openrgb::modeData(mode, 5);
        socket.write(openrgb::packet(0, openrgb::Packet::UpdateMode, openrgb::uint32Data(body.size() + 4) + body));
    }
};

} // namespace

class OpenRgbWithCardTest : public QObject {
    Q_OBJECT

    CardRig rig;
    const QString transferLog = rig.transferLog;

    void startProgram(const QByteArray &settings, const QByteArray &waitFor)
    {
        QFile::remove(rig.home.data("userData.json"));
        QVERIFY(settings.isEmpty() || writeFile(rig.home.data("userData.json"), settings));
        rig.startProgram();
        QVERIFY2(rig.programSays(waitFor), rig.programSaid.right(2000).constData());
    }

private slots:
    void initTestCase() { QVERIFY(rig.start()); }

    void cleanup()
    {
        if (rig.program)
            PrivateHome::stop(rig.program.get());
        rig.program.reset();
    }

    void offByDefault()
    {
        startProgram({}, "OpenRGB SDK server is off");
        QCOMPARE(listeners(6743), QStringList());
    }

    void takenPortIsReportedAndTheProgramGoesOn()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        startProgram(QString(R"([{"openRgbServer": true, "openRgbPort": %1}])").arg(holder.serverPort()).toUtf8(),
                     "OpenRGB SDK server cannot listen on port " + QByteArray::number(holder.serverPort()));
        QCOMPARE(rig.program->state(), QProcess::Running);
    }

    void clientDrivesTheCardLikeTheLightingPage()
    {
        QTcpServer probe; // a port nobody else uses now
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        startProgram(QString(R"([{"openRgbServer": true, "openRgbPort": %1}])").arg(port).toUtf8(),
                     "OpenRGB SDK server listening on 127.0.0.1 and ::1, port " + QByteArray::number(port));
        const QStringList local = listeners(port);
        QVERIFY(local.contains(QString("127.0.0.1:%1").arg(port)));
        for (const QString &address : local)
            QVERIFY2(address == QString("127.0.0.1:%1").arg(port) || address == QString("[::1]:%1").arg(port),
                     qPrintable(address));

        Client client;
        client.socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.socket.waitForConnected(5000));
        QCOMPARE(client.ask(openrgb::Packet::RequestProtocolVersion, openrgb::uint32Data(5)).toHex(), QByteArray("05000000"));
        client.socket.write(openrgb::packet(0, openrgb::Packet::SetClientName, QByteArray("e2e", 4)));
        QCOMPARE(client.ask(openrgb::Packet::RequestControllerCount, {}).toHex(), QByteArray("01000000"));
        // The firmware version is read once the server is up: it comes before any change.
        QByteArray controller;
        QTRY_VERIFY_WITH_TIMEOUT((controller = client.ask(openrgb::Packet::RequestControllerData, openrgb::uint32Data(5)))
                                     .contains("01.00.03.19.04.0B"), 10000);
        for (const char *text : {"TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA", "TARVELL", "Static", "Breath", "Off", "Direct"})
            QVERIFY2(controller.contains(QByteArray(text) + '\0'), text);
        QCOMPARE(client.activeMode(), 5); // Rainbow, the card's default

        openrgb::Mode mode;
        mode.colours = {openrgb::colour(0xFF, 0, 0)};
        int before = readLines(transferLog).size();
        client.setMode(1, mode); // Static, at the saved speed
        const QStringList staticRed = lightingClick("01", "FF 00 00", "FE");
        QCOMPARE(rig.transfersAfter(before, staticRed.size()), staticRed);
        QTRY_COMPARE_WITH_TIMEOUT(client.activeMode(), 1, 10000);

        before += staticRed.size();
        mode.speed = 2;
        client.setMode(2, mode); // Breath, slider position 2
        const QStringList breath = lightingClick("02", "FF 00 00", "01");
        QCOMPARE(rig.transfersAfter(before, breath.size()), breath);
        QTRY_COMPARE_WITH_TIMEOUT(client.activeMode(), 2, 10000);
        // An effect engine in Direct: fifty colours in a row reach the card as
        // a few sequences, the last of them in the last colour.
        before = readLines(transferLog).size();
        client.socket.write(openrgb::packet(0, openrgb::Packet::SetCustomMode));
        for (int red = 1; red <= 50; ++red)
            client.socket.write(openrgb::packet(0, openrgb::Packet::UpdateLeds, openrgb::uint32Data(10)
                                                + QByteArray("\x01\x00", 2) + openrgb::uint32Data(openrgb::colour(red, 0, 0))));
        const auto colourLines = [&] { return readLines(transferLog).mid(before).filter("W 03 11 "); };
        QTRY_VERIFY_WITH_TIMEOUT(!colourLines().isEmpty() && colourLines().last() == "W 03 11 " + repeated("32 00 00", 5), 20000);
        QVERIFY2(colourLines().size() <= 3, qPrintable(colourLines().join('\n')));
        QTRY_COMPARE_WITH_TIMEOUT(client.activeMode(), 0, 10000); // Direct

        // Saved as the page's click saves it, once the last change is through.
        const auto savedAll = [&] {
            const QByteArray saved = readFile(rig.home.data("userData.json"));
            for (const char *entry : {R"("argb_effect": "1")", R"("ARGBSliderSpeed": 2)", R"("speed": "01")",
                                      R"("r_hex": "32")", R"("RGB": "ON")", R"("openRgbServer": true)"})
                if (!saved.contains(entry))
                    return false;
            return true;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(savedAll(), readFile(rig.home.data("userData.json")).constData(), 10000);
    }
};

QTEST_GUILESS_MAIN(OpenRgbWithCardTest)
#include "tst_openrgb_with_card.moc"
