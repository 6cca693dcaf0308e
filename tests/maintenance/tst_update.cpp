// Manifest fetch and installer download against a loopback server.
#include "loopback_http.h"
#include "stream_capture.h"

#include "maintenance/update_client.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace maintenance;

Q_DECLARE_METATYPE(ScriptedResponse)

namespace {

// Short limits so that the time-out cases end within a few seconds.
const TransferLimits kQuick{2000, 1000};

ScriptedResponse json(const QByteArray &body)
{
    ScriptedResponse r;
    r.body = body;
    return r;
}

ScriptedResponse pattern(qint64 bytes)
{
    ScriptedResponse r;
    r.patternBytes = bytes;
    return r;
}

// Empty when the file holds exactly `length` pattern bytes, else what differs.
QString patternMismatch(const QString &path, qint64 length)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open ") + path;
    if (file.size() != length)
        return QStringLiteral("size %1, expected %2").arg(file.size()).arg(length);
    qint64 offset = 0;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 20);
        for (int i = 0; i < chunk.size(); ++i) {
            if (chunk.at(i) != patternByte(offset + i))
                return QStringLiteral("byte %1 differs").arg(offset + i);
        }
        offset += chunk.size();
    }
    return {};
}

QStringList versionsOf(const QVariantList &entries)
{
    QStringList versions;
    for (const QVariant &entry : entries)
        versions << entry.toMap().value(QStringLiteral("version")).toString();
    return versions;
}

// JSON written with single quotes, to keep the literals readable.
QByteArray J(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

} // namespace

class TestUpdate : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server->isListening());
        QVERIFY(dir.isValid());
    }
    void cleanup() { server.reset(); }

    void manifestTakesOverArraysOnly_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("softwareVersions");

        QTest::newRow("equal to the application")
            << J("{'software':[{'name':'Tarvell Vorn','version':'25.04.00','downloadLink':'http://h/a'}]}")
            << QStringList{"software"} << QStringList{"25.04.00"};
        // Versions stay text: 25.4.0 must not come back as 25.04.00 or a number.
        QTest::newRow("differently written version")
            << (J("{'software':[{'name':'n','version':'25.4.0','downloadLink':'x'}]}"))
            << QStringList{"software"} << QStringList{"25.4.0"};
        QTest::newRow("two entries keep their order")
            << (J("{'software':[{'version':'25.06.00'},{'version':'25.05.00'}]}"))
            << QStringList{"software"} << QStringList{"25.06.00", "25.05.00"};
        QTest::newRow("software as an object is ignored")
            << (J("{'software':{'version':'25.06.00'},'drivers':[1,'two']}"))
            << QStringList{"drivers"} << QStringList{};
        QTest::newRow("keys in name order")
            << (J("{'zeta':[],'software':[{'version':'1'}],'alpha':[true],'n':3}"))
            << QStringList{"alpha", "software", "zeta"} << QStringList{"1"};
        QTest::newRow("top level array") << (J("[{'software':[]}]")) << QStringList{}
                                         << QStringList{};
        QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << QStringList{}
                                  << QStringList{};
        QTest::newRow("empty body") << QByteArray() << QStringList{} << QStringList{};
    }
    void manifestTakesOverArraysOnly()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, softwareVersions);
        server->route("/Tarvell/latest_version.json", {json(body)});

        const auto manifest = check_NewVersionFromServer(server->url("/Tarvell/latest_version.json"), kQuick);
        QCOMPARE(manifest.keys(), keys);
        QCOMPARE(versionsOf(manifest.value("software")), softwareVersions);
    }

    void manifestElementsAreMapsOrPlainValues()
    {
        server->route("/m", {json(J("{'mixed':[{'name':'a'},7,'text',null,[1,2]]}"))});
        const QVariantList mixed = check_NewVersionFromServer(server->url("/m"), kQuick).value("mixed");
        QCOMPARE(mixed.size(), 5);
        QCOMPARE(mixed.at(0).toMap().value("name").toString(), QStringLiteral("a"));
        QCOMPARE(mixed.at(1).toInt(), 7);
        QCOMPARE(mixed.at(2).toString(), QStringLiteral("text"));
        QVERIFY(mixed.at(3).isNull());
        QCOMPARE(mixed.at(4).toList().size(), 2);
    }

    void manifestLongerThanOnePieceIsParsedWhole()
    {
        QByteArray body = J("{'software':[");
        for (int i = 0; i < 60; ++i) {
            body += (i ? "," : "");
            body += J("{'name':'Tarvell Vorn release with a long name ") + QByteArray::number(i)
                + J("','version':'25.") + QByteArray::number(i) + J(".00','downloadLink':'http://h/i'}");
        }
        body += "]}";
        QVERIFY(body.size() > 3 * 1023);
        server->route("/m", {json(body)});

        const QStringList versions = versionsOf(check_NewVersionFromServer(server->url("/m"), kQuick).value("software"));
        QCOMPARE(versions.size(), 60);
        QCOMPARE(versions.first(), QStringLiteral("25.0.00"));
        QCOMPARE(versions.last(), QStringLiteral("25.59.00"));
    }

    void manifestIsFetchedFromTheServerEveryTime()
    {
        server->route("/m", {json(J("{'software':[{'version':'1'}]}")),
                             json(J("{'software':[{'version':'2'}]}"))});
        QCOMPARE(versionsOf(check_NewVersionFromServer(server->url("/m"), kQuick).value("software")),
                 QStringList{"1"});
        QCOMPARE(versionsOf(check_NewVersionFromServer(server->url("/m"), kQuick).value("software")),
                 QStringList{"2"});
        const QStringList heads = server->requests();
        QCOMPARE(heads.size(), 2);
        for (const QString &head : heads) {
            QVERIFY2(head.contains("Cache-Control: no-cache", Qt::CaseInsensitive), qPrintable(head));
            QVERIFY2(head.contains("User-Agent: HttpClient", Qt::CaseInsensitive), qPrintable(head));
        }
    }

    void manifestFollowsHttpRedirectsOnly()
    {
        ScriptedResponse moved;
        moved.status = 302;
        moved.location = server->url("/real").toLatin1();
        server->route("/m", {moved});
        server->route("/real", {json(J("{'software':[{'version':'3'}]}"))});
        QCOMPARE(versionsOf(check_NewVersionFromServer(server->url("/m"), kQuick).value("software")),
                 QStringList{"3"});

        QTemporaryDir local;
        QFile planted(local.filePath("m.json"));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write(J("{'software':[{'version':'9'}]}"));
        planted.close();
        ScriptedResponse toFile;
        toFile.status = 302;
        toFile.location = QUrl::fromLocalFile(planted.fileName()).toEncoded();
        server->route("/f", {toFile});
        QVERIFY(check_NewVersionFromServer(server->url("/f"), kQuick).isEmpty());
    }

    void manifestFailuresGiveAnEmptyResult_data()
    {
        QTest::addColumn<ScriptedResponse>("response");
        ScriptedResponse missing = json(J("{'software':[{'version':'9'}]}"));
        missing.status = 404;
        QTest::newRow("error status with a JSON page") << missing;
        ScriptedResponse cut = json(J("{'software':[{'version':'9'}],'other':[1,2,3,4,5,6,7,8]}"));
        cut.dropAfter = 20;
        QTest::newRow("connection dropped") << cut;
    }
    void manifestFailuresGiveAnEmptyResult()
    {
        QFETCH(ScriptedResponse, response);
        server->route("/m", {response});
        QVERIFY(check_NewVersionFromServer(server->url("/m"), kQuick).isEmpty());
        QCOMPARE(server->hits("/m"), 1);
    }

    void noServerGivesAnEmptyManifestAtOnce()
    {
        const quint16 port = closedLoopbackPort();
        QVERIFY(port != 0);
        QElapsedTimer timer;
        timer.start();
        // The default limits: a refused connection must not wait for them.
        QVERIFY(check_NewVersionFromServer(QStringLiteral("http://127.0.0.1:%1/m").arg(port)).isEmpty());
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }

    void silentServerIsGivenUpAfterTheStallLimit()
    {
        ScriptedResponse silent;
        silent.silent = true;
        server->route("/m", {silent});
        QElapsedTimer timer;
        timer.start();
        QVERIFY(check_NewVersionFromServer(server->url("/m"), kQuick).isEmpty());
        // Far below the 15 s default: the limit handed in is the one applied.
        QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(server->hits("/m"), 1);
    }

    void downloadReportsProgressUpToTheLastPiece()
    {
        // Over 42,949,673 bytes, so received x 100 no longer fits 32 bits.
        const qint64 length = 50000003;
        server->route("/i", {pattern(length)});
        const QString target = dir.filePath("TARVELL_VORN_25.05.00.run");
        QList<int> seen;

        StreamCapture out(std::cout);
        QVERIFY(downloadFileFromServer(server->url("/i"), target, [&](int p) { seen << p; }, kQuick));

        QCOMPARE(patternMismatch(target, length), QString());
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last(), 100);
        QCOMPARE(seen.count(100), 1);
        for (int i = 0; i < seen.size(); ++i) {
            QVERIFY2(seen.at(i) >= 1 && seen.at(i) <= 100, qPrintable(QString::number(seen.at(i))));
            if (i > 0)
                QVERIFY(seen.at(i) >= seen.at(i - 1));
        }
        // Pieces are at most 8192 bytes, so there are at least this many reports.
        QVERIFY(seen.size() >= int(length / 8192) - int(length / 100 / 8192) - 1);
        QVERIFY(out.text().contains("\rDownloading: 100% completed..."));
        QVERIFY(out.text().contains("Download completed: " + target));
        QCOMPARE(server->hits("/i"), 2); // the data request and the size request
    }

    void downloadWithoutLengthHasNoProgress()
    {
        ScriptedResponse r = pattern(100000);
        r.announceLength = false;
        server->route("/i", {r});
        const QString target = dir.filePath("nolength.run");
        int reports = 0;

        StreamCapture err(std::cerr);
        StreamCapture out(std::cout);
        QVERIFY(downloadFileFromServer(server->url("/i"), target, [&](int) { ++reports; }, kQuick));
        QCOMPARE(reports, 0);
        QCOMPARE(patternMismatch(target, 100000), QString());
        QVERIFY(err.text().contains(
            "HttpQueryInfo failed. Cannot determine file size. Downloading without progress.\n"));
        QVERIFY(!out.text().contains("Downloading:"));
    }

    void downloadOverwritesAnEarlierFile()
    {
        const QString target = dir.filePath("again.run");
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(300000, 'x'));
        old.close();
        server->route("/i", {pattern(5000)});
        StreamCapture out(std::cout);
        QVERIFY(downloadFileFromServer(server->url("/i"), target, {}, kQuick));
        QCOMPARE(patternMismatch(target, 5000), QString());
    }

    void downloadIntoAnUnwritableTargetFails()
    {
        // Root may write a read-only file, but not a folder in the way.
        const QString target = dir.filePath("blocked.run");
        QVERIFY(QDir().mkpath(target));
        server->route("/i", {pattern(5000)});
        StreamCapture err(std::cerr);
        QVERIFY(!downloadFileFromServer(server->url("/i"), target, {}, kQuick));
        QVERIFY(err.text().contains("Failed to create file: " + target));
        QVERIFY(QFileInfo(target).isDir());

        if (::geteuid() != 0) {
            const QString readOnly = dir.filePath("readonly.run");
            QFile file(readOnly);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep");
            file.close();
            QVERIFY(file.setPermissions(QFileDevice::ReadOwner));
            QVERIFY(!downloadFileFromServer(server->url("/i"), readOnly, {}, kQuick));
            QVERIFY(err.text().contains("Failed to create file: " + readOnly));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("keep"));
        }
    }

    void incompleteDownloadLeavesNoFile_data()
    {
        QTest::addColumn<QList<ScriptedResponse>>("script");
        ScriptedResponse dropped = pattern(200000);
        dropped.dropAfter = 90000;
        QTest::newRow("connection dropped part-way") << QList<ScriptedResponse>{dropped};
        ScriptedResponse stalled = pattern(200000);
        stalled.stallAfter = 90000;
        QTest::newRow("server stops sending") << QList<ScriptedResponse>{stalled};
        // The data request ends cleanly but short of the length the size request announced.
        ScriptedResponse longer = pattern(200000);
        QTest::newRow("shorter than announced")
            << QList<ScriptedResponse>{pattern(120000), longer};
    }
    void incompleteDownloadLeavesNoFile()
    {
        QFETCH(QList<ScriptedResponse>, script);
        server->route("/i", script);
        const QString target = dir.filePath("TARVELL_VORN_9.9.9.run");
        QList<int> seen;

        StreamCapture err(std::cerr);
        StreamCapture out(std::cout);
        QVERIFY(!downloadFileFromServer(server->url("/i"), target, [&](int p) { seen << p; }, kQuick));
        QVERIFY(!QFile::exists(target));
        QVERIFY(!seen.contains(100));
        QVERIFY(!out.text().contains("Download completed"));
        QVERIFY2(err.text().contains("Download incomplete"), qPrintable(err.text()));
    }

    void downloadRefusesWhatIsNotAnInstaller_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expectedLine");
        QTest::newRow("file link") << QStringLiteral("file:///etc/hostname")
                                   << QStringLiteral("only http and https");
        QTest::newRow("ftp link") << QStringLiteral("ftp://127.0.0.1/i")
                                  << QStringLiteral("only http and https");
        QTest::newRow("no link") << QString() << QStringLiteral("only http and https");
        QTest::newRow("error page") << QStringLiteral("SERVER/missing")
                                    << QStringLiteral("InternetOpenUrl failed. Error: 404");
    }
    void downloadRefusesWhatIsNotAnInstaller()
    {
        QFETCH(QString, url);
        QFETCH(QString, expectedLine);
        url.replace(QStringLiteral("SERVER/"), server->url("/"));
        const QString target = dir.filePath("refused.run");
        StreamCapture err(std::cerr);
        QVERIFY(!downloadFileFromServer(url, target, {}, kQuick));
        QVERIFY2(err.text().contains(expectedLine), qPrintable(err.text()));
        QVERIFY(!QFile::exists(target));
    }

    void installerNamesOnlyFromPlainVersions_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("dotted") << "25.05.00" << "TARVELL_VORN_25.05.00.run";
        QTest::newRow("letters, dash, underscore") << "25.4.0-rc_1" << "TARVELL_VORN_25.4.0-rc_1.run";
        QTest::newRow("parent folder") << "../../.config/autostart/x" << "";
        QTest::newRow("slash") << "25/05" << "";
        QTest::newRow("absolute") << "/tmp/x" << "";
        QTest::newRow("space") << "25.05 beta" << "";
        QTest::newRow("shell text") << "1;rm -rf ~" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("trailing line feed") << "25.05.00\n" << "";
        QTest::newRow("non-ASCII letter") << QStringLiteral("25.\u00e905") << "";
        QTest::newRow("very long") << QString(65, QLatin1Char('1')) << "";
    }
    void installerNamesOnlyFromPlainVersions()
    {
        QFETCH(QString, version);
        QFETCH(QString, fileName);
        const QString path = installerSavePath(QStringLiteral("/home/u/Downloads"), version);
        QCOMPARE(path, fileName.isEmpty() ? QString() : "/home/u/Downloads/" + fileName);
        QCOMPARE(isPlainVersion(version), !fileName.isEmpty());
    }

    void installerIsStartedWithoutAShellAndWaitedFor()
    {
        // A folder name a shell would act on: if a shell saw this path it
        // would create INJECTED.
        const QString folder = dir.filePath("dl $(touch INJECTED) x");
        QVERIFY(QDir().mkpath(folder));
        const QString installer = folder + "/TARVELL_VORN_1.0.run";
        QFile file(installer);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nsleep 0.3\necho ran > \"$(dirname \"$0\")/ran.txt\"\n");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));

        QVERIFY(runInstaller(installer));
        QVERIFY(QFileInfo(installer).permissions() & QFileDevice::ExeOwner);
        QFile ran(folder + "/ran.txt");
        QVERIFY2(ran.open(QIODevice::ReadOnly), "the installer had not finished when the call returned");
        QCOMPARE(ran.readAll(), QByteArray("ran\n"));
        QVERIFY(!QFile::exists(dir.filePath("INJECTED")));
        QVERIFY(!QFile::exists(QDir::current().filePath("INJECTED")));
    }

    void missingInstallerIsNotStarted()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot make the installer executable:"));
        QVERIFY(!runInstaller(dir.filePath("absent.run")));
    }

private:
    std::unique_ptr<LoopbackHttpServer> server;
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
