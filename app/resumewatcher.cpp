#include "app/resumewatcher.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>

namespace {
const char kService[] = "org.freedesktop.login1";
const char kPath[] = "/org/freedesktop/login1";
const char kInterface[] = "org.freedesktop.login1.Manager";
const char kSignal[] = "PrepareForSleep";
} // namespace

ResumeWatcher::ResumeWatcher(QObject *parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qInfo().noquote() << "No system bus: the choices are not applied again after a suspend";
        return;
    }
    watching = bus.connect(QLatin1String(kService), QLatin1String(kPath),
                           QLatin1String(kInterface), QLatin1String(kSignal), this,
                           SLOT(onPrepareForSleep(bool)));
    if (!watching)
        qWarning().noquote() << "Cannot watch for resume from suspend:" << bus.lastError().message();
    else
        takeInhibitor();
}

void ResumeWatcher::takeInhibitor()
{
    if (inhibitor.isValid())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kInterface), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Tarvell Vorn")
         << QStringLiteral("The fan goes back to the GPU's own control first") << QStringLiteral("delay");
    // Asynchronous: a logind that does not answer must not hold up the window.
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        w->deleteLater();
        if (reply.isError()) {
            qWarning().noquote() << "No sleep inhibitor:" << reply.error().message();
            return;
        }
        inhibitor = reply.value();
        qInfo().noquote() << "Sleep inhibitor taken";
    });
}

void ResumeWatcher::releaseInhibitor()
{
    if (!inhibitor.isValid())
        return;
    inhibitor = QDBusUnixFileDescriptor(); // closes our copy; logind lets the sleep go on
    qInfo().noquote() << "Sleep inhibitor released";
}

void ResumeWatcher::onPrepareForSleep(bool goingToSleep)
{
    if (goingToSleep) {
        qInfo().noquote() << "Going to sleep";
        emit suspending();
        return;
    }
    qInfo().noquote() << "Resumed from suspend";
    takeInhibitor();
    emit resumed();
}
