// The I2C access package and its elevated installer, and the autostart entry.
#include "maintenance/autostart.h"
#include "maintenance/driver_install.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace maintenance;

namespace {

struct Launch {
    QString program;
    QStringList arguments;
};

bool writeFile(const QString &path, const QByteArray &content,
               QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
        && file.setPermissions(permissions);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Reads an Exec value back the way a launcher does: first the string escapes
// of the entry, then the quoting of the arguments, then "%%". An independent
// reading, so a quoting mistake shows as a different path.
QStringList execArguments(const QByteArray &entry)
{
    QString value;
    for (const QString &line : QString::fromUtf8(entry).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec=")))
            value = line.mid(5);
    }
    QString unescaped;
    for (int i = 0; i < value.size(); ++i) {
        if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value.at(++i);
            unescaped += next == QLatin1Char('n') ? QChar('\n')
                : next == QLatin1Char('t')        ? QChar('\t')
                : next == QLatin1Char('r')        ? QChar('\r')
                : next == QLatin1Char('s')        ? QChar(' ')
                                                  : next;
        } else {
            unescaped += value.at(i);
        }
    }
    QStringList args;
    QString current;
    bool quoted = false;
    bool inArgument = false;
    for (int i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < unescaped.size()) {
                current += unescaped.at(++i);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = inArgument = true;
        } else if (c == QLatin1Char(' ')) {
            if (inArgument)
                args << current;
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        args << current;
    // Launchers expand field codes per argument, after unquoting.
    for (QString &arg : args)
        arg.replace(QLatin1String("%%"), QLatin1String("%"));
    return args;
}

} // namespace

class TestDriverAutostart : public QObject {
    Q_OBJECT

private slots:
    void missingPackageIsNotInstalled()
    {
        QTemporaryDir dir;
        const QString inf = dir.filePath("NF_I2CPeripheralDriver/NfI2cTestDrv.inf");
        int launches = 0;
        QTest::ignoreMessage(QtWarningMsg, qPrintable("INF file does not exist: " + inf));
        QVERIFY(!installDriverWithPnPUtil(inf, [&](const QString &, const QStringList &) {
            ++launches;
            return true;
        }));
        QCOMPARE(launches, 0);
    }

    void presentPackageStartsItsInstallerElevated()
    {
        QTemporaryDir dir;
        const QString package = dir.filePath("Tarvell Vorn/NF_I2CPeripheralDriver");
        QVERIFY(QDir().mkpath(package));
        QVERIFY(writeFile(package + "/NfI2cTestDrv.inf", "; package\n"));
        QVERIFY(writeFile(package + "/install-tarvell-i2c.sh", "#!/bin/sh\n",
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QList<Launch> launches;
        const bool ok = installDriverWithPnPUtil(package + "/NfI2cTestDrv.inf",
                                                 [&](const QString &program, const QStringList &args) {
                                                     launches.append({program, args});
                                                     return true;
                                                 });
        QVERIFY(ok);
        QCOMPARE(launches.size(), 1);
        QCOMPARE(launches.at(0).program, QStringLiteral("pkexec"));
        // One argument, spaces and all: nothing goes through a shell.
        QCOMPARE(launches.at(0).arguments, QStringList{package + "/install-tarvell-i2c.sh"});
    }

    void installerThatCannotStartIsAFailure()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("NfI2cTestDrv.inf"), "; package\n"));
        const auto refuse = [](const QString &, const QStringList &) { return false; };

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Driver installer does not exist: "));
        QVERIFY(!installDriverWithPnPUtil(dir.filePath("NfI2cTestDrv.inf"), refuse));

        QVERIFY(writeFile(dir.filePath("install-tarvell-i2c.sh"), "#!/bin/sh\n"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot start pkexec for the driver installer: "));
        QVERIFY(!installDriverWithPnPUtil(dir.filePath("NfI2cTestDrv.inf"), refuse));
    }

    void shippedInstallerPutsThePackageInPlace()
    {
        // Run against a scratch root, with udevadm and modprobe replaced by
        // recorders, so nothing on this machine changes.
        const QString package = QCoreApplication::applicationDirPath() + "/NF_I2CPeripheralDriver";
        QVERIFY(QFileInfo::exists(package + "/NfI2cTestDrv.inf"));
        QVERIFY(QFileInfo(driverInstallerPath(package + "/NfI2cTestDrv.inf")).isExecutable());
        QTemporaryDir root;
        QTemporaryDir tools;
        const QString log = tools.filePath("calls.log");
        const QByteArray recorder = "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> '" + log.toUtf8() + "'\n";
        const auto executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QVERIFY(writeFile(tools.filePath("udevadm"), recorder, executable));
        QVERIFY(writeFile(tools.filePath("modprobe"), recorder, executable));

        QProcess script;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TARVELL_I2C_ROOT", root.path());
        env.insert("PATH", tools.path() + ":" + env.value("PATH"));
        script.setProcessEnvironment(env);
        script.start(package + "/install-tarvell-i2c.sh", QStringList());
        QVERIFY(script.waitForFinished(30000));
        QCOMPARE(script.exitCode(), 0);

        QCOMPARE(readFile(root.filePath("etc/modules-load.d/tarvell-vorn-i2c.conf")),
                 readFile(package + "/tarvell-vorn-i2c.conf"));
        QCOMPARE(readFile(root.filePath("etc/udev/rules.d/70-tarvell-vorn-i2c.rules")),
                 readFile(package + "/70-tarvell-vorn-i2c.rules"));
        const QStringList calls = QString::fromUtf8(readFile(log)).split('\n', Qt::SkipEmptyParts);
        QVERIFY(calls.size() >= 3);
        QCOMPARE(calls.at(0), QStringLiteral("udevadm control --reload"));
        QCOMPARE(calls.at(1), QStringLiteral("modprobe i2c-dev"));
        QVERIFY2(calls.at(2).startsWith("udevadm trigger"), qPrintable(calls.at(2)));
    }

    void autostartEntryRoundTripsThePath_data()
    {
        QTest::addColumn<QString>("exePath");
        QTest::newRow("plain") << "/usr/bin/tarvell-vorn";
        QTest::newRow("spaces") << "/opt/Tarvell Vorn/bin/tarvell vorn";
        QTest::newRow("quotes and dollar") << "/home/u/it's \"mine\"/$HOME/tarvell-vorn";
        QTest::newRow("backslash and backtick") << "/home/u/a\\b`c`/tarvell-vorn";
        QTest::newRow("percent") << "/home/u/100%f/tarvell-vorn";
        QTest::newRow("line feed and tab") << "/home/u/odd\nname\tdir/tarvell-vorn";
        QTest::newRow("shell characters") << "/tmp/a;b&c|d>e<f*g?h#i(j)k~/tarvell-vorn";
    }
    void autostartEntryRoundTripsThePath()
    {
        QFETCH(QString, exePath);
        QTemporaryDir config;
        QTest::ignoreMessage(QtDebugMsg, "Start with Windows");
        QVERIFY(writeAutoStart(config.path(), "tarvell-vorn", exePath, true));
        const QByteArray entry = readFile(config.filePath("autostart/tarvell-vorn.desktop"));
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.contains("\nType=Application\n"));
        QCOMPARE(execArguments(entry), QStringList{exePath});
    }

    void autostartOnTwiceOffTwice()
    {
        QTemporaryDir config;
        const QString entry = config.filePath("autostart/tarvell-vorn.desktop");
        QTest::ignoreMessage(QtDebugMsg, "Start with Windows");
        QVERIFY(writeAutoStart(config.path(), "tarvell-vorn", "/usr/bin/tarvell-vorn", true));
        const QByteArray first = readFile(entry);
        QTest::ignoreMessage(QtDebugMsg, "Start with Windows");
        QVERIFY(writeAutoStart(config.path(), "tarvell-vorn", "/usr/bin/tarvell-vorn", true));
        QCOMPARE(readFile(entry), first);
        QCOMPARE(QDir(config.filePath("autostart")).entryList(QDir::Files), QStringList{"tarvell-vorn.desktop"});

        QTest::ignoreMessage(QtDebugMsg, "uncheck Start with Windows");
        QVERIFY(writeAutoStart(config.path(), "tarvell-vorn", "/usr/bin/tarvell-vorn", false));
        QVERIFY(!QFile::exists(entry));
        QTest::ignoreMessage(QtDebugMsg, "uncheck Start with Windows");
        QVERIFY(writeAutoStart(config.path(), "tarvell-vorn", "/usr/bin/tarvell-vorn", false));
        QVERIFY(!QFile::exists(entry));
    }

    void setAutoStartUsesTheUsersConfigFolder()
    {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        const QString entry = home.filePath("config/autostart/")
            + QCoreApplication::applicationName() + ".desktop";

        QTest::ignoreMessage(QtDebugMsg, "Start with Windows");
        setAutoStart(true);
        const QStringList exec = execArguments(readFile(entry));
        QTest::ignoreMessage(QtDebugMsg, "uncheck Start with Windows");
        setAutoStart(false);
        const bool removed = !QFile::exists(entry);

        qputenv("HOME", oldHome);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        QCOMPARE(exec, QStringList{QCoreApplication::applicationFilePath()});
        QVERIFY(removed);
    }
};

QTEST_GUILESS_MAIN(TestDriverAutostart)
#include "tst_driver_autostart.moc"
