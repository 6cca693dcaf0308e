#pragma once
// The program as a user starts it, as a real process under a private home:
// its own runtime, data, configuration and temporary folders, so the instance
// key, the settings and the simulator's endpoint are the test's own.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QStringList readLines(const QString &path)
{
    return QString::fromUtf8(readFile(path)).split('\n', Qt::SkipEmptyParts);
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && f.write(bytes) == bytes.size();
}

// A bus of the test's own: anybody may own a name and send signals.
inline const char kBusConfig[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig><listen>unix:path=%1</listen><auth>EXTERNAL</auth><policy context=\"default\">\n"
    "  <allow user=\"*\"/> <allow own=\"*\"/> <allow send_destination=\"*\"/>\n"
    "  <allow receive_sender=\"*\"/> <allow receive_requested_reply=\"true\"/>\n"
    "</policy></busconfig>\n";

class PrivateHome {
public:
    PrivateHome()
    {
        QDir().mkpath(runtime());
        QDir().mkpath(path("tmp"));
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QString runtime() const { return path("run"); }
    QString data(const QString &name) const { return path("data/tarvell-vorn/" + name); }

    // Offscreen with no display and no scene-graph choice: no OpenGL at all.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("TMPDIR", path("tmp"));
        env.insert("CTL_SYSFS_ROOT", runtime() + "/sysfs");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("QT_QUICK_BACKEND");
        env.remove("DISPLAY");
        // Under ThreadSanitizer the program, a whole Qt application whose
        // own threads the checker cannot see into, gets suppressions of its own.
        if (env.contains("TARVELL_TSAN_PROGRAM_OPTIONS"))
            env.insert("TSAN_OPTIONS", env.value("TARVELL_TSAN_PROGRAM_OPTIONS"));
        return env;
    }

    std::unique_ptr<QProcess> start(const QString &program, const QStringList &args = {},
                                    const QProcessEnvironment &env = {}) const
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env.isEmpty() ? environment() : env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(program, args);
        return p;
    }

    // SIGTERM, as a logout sends it: the normal teardown and exit code 0.
    static void stop(QProcess *p)
    {
        p->terminate();
        QVERIFY(p->waitForFinished(10000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }

private:
    QTemporaryDir dir;
};
