// The I2C access package and its elevated installer, and the autostart entry.
#include "maintenance/autostart.h"
#include "maintenance/driver_install.h"
#include "tests/common/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <mutex>

#include <sys/wait.h>
#include <unistd.h>

using namespace maintenance;

namespace {

// Reads the one Exec argument back the way a launcher does: the entry's
// string escapes, then the double quoting, then "%%". An independent reading,
// so a quoting mistake shows as a different path; anything a launcher would
// split or take for a field code reads as nothing.
QString execArgument(const QByteArray &entry)
{
    const int at = entry.indexOf("\nExec=");
    const QString value = QString::fromUtf8(entry.mid(at + 6, entry.indexOf('\n', at + 1) - at - 6));
    QString text, arg;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i) == '\\' && i + 1 < value.size() ? value.at(++i) : QChar();
        text += c.isNull() ? value.at(i) : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 's' ? ' ' : c;
    }
    if (text.size() < 2 || !text.startsWith('"') || !text.endsWith('"'))
        return {};
    for (int i = 1; i < text.size() - 1; ++i) {
        const QChar c = text.at(i);
        if (c == '"' || (c == '\\' && !QString("\"`$\\").contains(text.at(++i))))
            return {};
        if (c == '%' && text.at(++i) != '%')
            return {};
        arg += text.at(i);
    }
    return arg;
}

const auto kExecutable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// A stand-in pkexec that, like the real one, refuses a caller whose parent is
// gone; it also insists that its parent is not the program itself, whose end
// would orphan it.
QByteArray standInPkexec(const QTemporaryDir &dir, int exitCode)
{
    const QByteArray log = dir.filePath("pkexec.log").toUtf8();
    if (exitCode < 0) // still asking for the password a second later
        return "#!/bin/sh\nsleep 1\n" + standInPkexec(dir, 0).mid(10);
    return "#!/bin/sh\nif [ \"$PPID\" -eq 1 ] || [ \"$PPID\" -eq "
        + QByteArray::number(QCoreApplication::applicationPid()) + " ] || ! kill -0 \"$PPID\"; then echo dead > '"
        + log + "'; exit 127; fi\necho \"alive $*\" > '" + log + "'\nexit " + QByteArray::number(exitCode) + "\n";
}

} // namespace

class TestDriverAutostart : public QObject {
    Q_OBJECT

private slots:
    void driverSetUpRunsUnderALivingParent_data()
    {
        QTest::addColumn<QString>("layout"); // i: descriptor, s: installer, p: pkexec stand-in
        QTest::addColumn<int>("pkexecExit");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("toUser");
        QTest::newRow("installed") << "isp" << 0 << true << "";
        QTest::newRow("no package") << "sp" << 0 << false << "not found";
        QTest::newRow("no installer") << "ip" << 0 << false << "installer is missing";
        QTest::newRow("no pkexec") << "is" << 0 << false << "not installed";
        QTest::newRow("pkexec cannot run") << "isb" << 0 << false << "could not be started";
        QTest::newRow("user cancels") << "isp" << 126 << false << "cancelled";
        QTest::newRow("installer fails") << "isp" << 2 << false << "script failed (error 2)";
        QTest::newRow("program ends first") << "isp" << -1 << true << "";
    }

    void driverSetUpRunsUnderALivingParent()
    {
        QFETCH(QString, layout);
        QFETCH(int, pkexecExit);
        QFETCH(bool, ok);
        QFETCH(QString, toUser);
        QTemporaryDir dir;
        const QString package = dir.filePath("Tarvell Vorn/NF_I2CPeripheralDriver");
        QVERIFY(QDir().mkpath(package));
        if (layout.contains('i'))
            QVERIFY(writeFile(package + "/NfI2cTestDrv.inf", "; package\n"));
        if (layout.contains('s'))
            QVERIFY(writeFile(package + "/install-tarvell-i2c.sh", "#!/bin/sh\n", kExecutable));
        const QString pkexec = layout.contains('p') || layout.contains('b') ? dir.filePath("pkexec") : QString();
        if (!pkexec.isEmpty())
            QVERIFY(writeFile(pkexec, layout.contains('b') ? "#!/nonexistent/sh\n" : standInPkexec(dir, pkexecExit),
                              kExecutable));
        QString failure;
        if (!ok)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("."));
        bool result = false;
        std::mutex handOver; // QThread::wait() orders the result too, but out of ThreadSanitizer's sight
        std::unique_ptr<QThread> worker(QThread::create([&] {
            QString why;
            const bool done = installDriverWithPnPUtil(package + "/NfI2cTestDrv.inf", pkexec, &why);
            std::lock_guard<std::mutex> lock(handOver);
            std::tie(result, failure) = std::pair(done, why);
        }));
        worker->start();
        if (pkexecExit < 0) // the program ends while pkexec still waits for the password
            worker->requestInterruption();
        QVERIFY(worker->wait(10000));
        std::lock_guard<std::mutex> lock(handOver);
        QCOMPARE(result, ok);
        QVERIFY2(failure.contains(toUser), qPrintable(failure));
        if (layout == "isp")
            QTRY_COMPARE(readFile(dir.filePath("pkexec.log")), "alive " + package.toUtf8() + "/install-tarvell-i2c.sh\n");
        if (pkexecExit < 0) {
            // Nobody reads the keeper's last record: it still ends on its own
            // terms, not of SIGPIPE nor through a handler of this process.
            int status = 0;
            QVERIFY(::waitpid(-1, &status, 0) > 0);
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
        }
    }

    void installerTrustsOnlyRootOwnedFiles_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("untouched") << "chmod go-w ." << 0;
        QTest::newRow("rule writable by group") << "chmod g+w 70-tarvell-vorn-i2c.rules" << 2;
        QTest::newRow("conf writable by all") << "chmod o+w tarvell-vorn-i2c.conf" << 2;
        QTest::newRow("script owned by a user") << "chown 65534 install-tarvell-i2c.sh" << 2;
        QTest::newRow("folder writable by group") << "chmod g+w ." << 2;
        QTest::newRow("folder above writable by all") << "chmod o+w .." << 2;
        QTest::newRow("sticky folder above, as /tmp") << "chmod 1777 .." << 0;
        QTest::newRow("sticky package folder") << "chmod 1777 ." << 2;
    }

    void installerTrustsOnlyRootOwnedFiles()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to make root-owned copies of the package");
        QFETCH(QString, tamper);
        QFETCH(int, exitCode);
        // Under /tmp, root's and sticky, wherever the build tree is: every
        // folder above the copy is root's whatever user owns the clone.
        QTemporaryDir scratch("/tmp/tarvell-pkg-XXXXXX");
        const QString shipped = QCoreApplication::applicationDirPath() + "/NF_I2CPeripheralDriver";
        const QString package = scratch.filePath("p/package"), root = scratch.filePath("root"), tools = scratch.path();
        QVERIFY(QDir().mkpath(scratch.filePath("p")));
        // The tampering runs inside the copy; udevadm and modprobe stand-ins log their calls.
        QCOMPARE(QProcess::execute("sh", {"-c", "cp -r \"$0\" \"$1\" && cd \"$1\" && " + tamper, shipped, package}), 0);
        for (const QString name : {"udevadm", "modprobe"})
            QVERIFY(writeFile(tools + "/" + name, "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> \"$(dirname \"$0\")/calls\"\n",
                              kExecutable));
        QCOMPARE(QProcess::execute("env", {"TARVELL_I2C_ROOT=" + root, "PATH=" + tools + ":" + qgetenv("PATH"),
                                           package + "/install-tarvell-i2c.sh"}),
                 exitCode);
        const QByteArray rule = readFile(root + "/etc/udev/rules.d/70-tarvell-vorn-i2c.rules");
        QCOMPARE(rule, exitCode == 0 ? readFile(shipped + "/70-tarvell-vorn-i2c.rules") : QByteArray());
        QCOMPARE(readFile(tools + "/calls").startsWith("udevadm control --reload\nmodprobe i2c-dev\n"), exitCode == 0);
    }

    void autostartEntryRoundTripsThePath_data()
    {
        QTest::addColumn<QString>("exePath");
        QTest::newRow("spaces") << "/opt/Tarvell Vorn/bin/tarvell vorn";
        QTest::newRow("quotes and dollar") << "/home/u/it's \"mine\"/$HOME/tarvell-vorn";
        QTest::newRow("backslash, backtick, percent") << "/home/u/a\\b`c`/100%f/tarvell-vorn";
        QTest::newRow("line feed and tab") << "/home/u/odd\nname\tdir/tarvell-vorn";
        QTest::newRow("shell characters") << "/tmp/a;b&c|d>e<f*g?h#i(j)k~/tarvell-vorn";
    }
    void autostartEntryRoundTripsThePath()
    {
        QFETCH(QString, exePath);
        QTemporaryDir config;
        QVERIFY(writeAutoStart(config.path(), "tarvell-vorn", exePath, true));
        const QByteArray entry = readFile(config.filePath("autostart/tarvell-vorn.desktop"));
        QCOMPARE(execArgument(entry), exePath);
        QVERIFY(writeAutoStart(config.path(), "tarvell-vorn", exePath, false));
        QVERIFY(!QFile::exists(config.filePath("autostart/tarvell-vorn.desktop")));
    }
};

QTEST_GUILESS_MAIN(TestDriverAutostart)
#include "tst_driver_autostart.moc"
