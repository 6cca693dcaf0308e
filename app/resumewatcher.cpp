#include "app/resumewatcher.h"

#include <QDBusConnection>
#include <QDBusError>
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
}

void ResumeWatcher::onPrepareForSleep(bool goingToSleep)
{
    if (!goingToSleep) {
        qInfo().noquote() << "Resumed from suspend";
        emit resumed();
    }
}
