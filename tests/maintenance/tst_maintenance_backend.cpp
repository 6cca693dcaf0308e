// The worker's maintenance backend: where installers go and which versions may
// name one, in a scratch home folder.
#include "worker/backends.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestMaintenanceBackend : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        // No user-dirs.dirs in the scratch config, so the download folder is
        // $HOME/Downloads.
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        backend = worker::makeMaintenanceBackend();
    }

    void installerGoesToTheDownloadFolder()
    {
        const QString downloads = home.filePath("Downloads");
        QVERIFY(!QFileInfo::exists(downloads));
        QCOMPARE(backend->installerSavePath("25.05.00"), downloads + "/TARVELL_VORN_25.05.00.run");
        QVERIFY(QFileInfo(downloads).isDir());
    }

    void unsafeVersionGivesNoPath()
    {
        QCOMPARE(backend->installerSavePath("../../.config/autostart/evil"), QString());
        QCOMPARE(backend->installerSavePath("25.05.00\n"), QString());
    }

    void missingDriverPackageIsReported()
    {
        const QString inf = home.filePath("NF_I2CPeripheralDriver/NfI2cTestDrv.inf");
        QTest::ignoreMessage(QtWarningMsg, qPrintable("INF file does not exist: " + inf));
        QVERIFY(!backend->installDriver(inf));
    }

    void downloadRefusesAnUnsafeLink()
    {
        int reports = 0;
        const QString target = home.filePath("x.run");
        QVERIFY(!backend->download(L"file:///etc/hostname", target.toStdWString(),
                                   [&](int) { ++reports; }));
        QCOMPARE(reports, 0);
        QVERIFY(!QFileInfo::exists(target));
    }

private:
    QTemporaryDir home;
    std::unique_ptr<worker::MaintenanceBackend> backend;
};

QTEST_GUILESS_MAIN(TestMaintenanceBackend)
#include "tst_maintenance_backend.moc"
