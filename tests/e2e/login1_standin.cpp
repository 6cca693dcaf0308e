// Stands in for logind on a private system bus: owns org.freedesktop.login1,
// emits PrepareForSleep for each line "sleep" or "resume" on stdin, and hands
// out inhibitors, saying on stdout when one is taken and when it is released.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {
void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}
} // namespace

class Manager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public slots:
    // The caller keeps one end of a pipe; its close is the release.
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return {};
        auto *released = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
        connect(released, &QSocketNotifier::activated, this, [released, fds0 = fds[0], what, mode] {
            char byte;
            if (::read(fds0, &byte, 1) > 0)
                return;
            released->setEnabled(false);
            released->deleteLater();
            ::close(fds0);
            say(QStringLiteral("inhibitor released %1 %2").arg(what, mode));
        });
        say(QStringLiteral("inhibitor taken %1 %2 by %3: %4").arg(what, mode, who, why));
        QDBusUnixFileDescriptor handed(fds[1]); // duplicates
        ::close(fds[1]);
        return handed;
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    Manager manager;
    if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.login1"))
        || !bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                               QDBusConnection::ExportAllSlots)) {
        std::fprintf(stderr, "login1 stand-in: cannot own org.freedesktop.login1\n");
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line))
            return app.quit();
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
            QStringLiteral("PrepareForSleep"));
        signal << (line == "sleep");
        bus.send(signal);
        bus.interface(); // flushes the queued signal
        say(QStringLiteral("sent %1").arg(QString::fromStdString(line)));
    });
    say(QStringLiteral("ready"));
    return app.exec();
}

#include "login1_standin.moc"
