#include "app/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>

#include <memory>
#include <utility>

namespace {

const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
// The same words again within this time tell the user nothing new.
constexpr qint64 kRepeatGapMs = 60000;

#ifndef TV_APP_NAME
#error "TV_APP_NAME must hold the program's display name"
#endif

} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QString stateFile, Clock clock,
                                 QObject *parent)
    : QObject(parent), bus(bus), stateFile(std::move(stateFile)), now(std::move(clock))
{
    if (!now) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        now = [timer] { return timer->elapsed(); };
    }
    this->bus.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kService),
                      QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
}

QString DesktopNotifier::choicesNotAppliedText(bool lighting, bool fan)
{
    if (lighting && fan)
        return QStringLiteral("Your lighting and fan settings did not reach the card.");
    return lighting ? QStringLiteral("Your lighting did not reach the card.")
                    : QStringLiteral("Your fan setting did not reach the card.");
}

void DesktopNotifier::choicesNotApplied(bool lighting, bool fan)
{
    if (lighting || fan)
        notify(choicesNotAppliedText(lighting, fan), true);
}

void DesktopNotifier::closedToTray()
{
    if (trayHintPending || QFile::exists(stateFile))
        return;
    trayHintPending = true;
    notify(QStringLiteral(TV_APP_NAME " keeps running in the tray"), false, [this] {
        QFile file(stateFile);
        if (!file.open(QIODevice::WriteOnly) || file.write("1\n") != 2)
            qWarning().noquote() << "Cannot remember the tray hint in" << stateFile;
    });
}

void DesktopNotifier::notify(const QString &body, bool opens, const std::function<void()> &onShown)
{
    const qint64 t = now();
    const auto last = lastShown.constFind(body);
    if (last != lastShown.cend() && t - *last < kRepeatGapMs)
        return;
    lastShown.insert(body, t);

    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kService), QStringLiteral("Notify"));
    const QStringList actions = opens ? QStringList{QStringLiteral("default"), QStringLiteral("Open " TV_APP_NAME)}
                                      : QStringList{};
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral(TV_APP_ID)}};
    // A newer failure replaces the one still on screen instead of piling up.
    call << QStringLiteral(TV_APP_NAME) << (opens ? lastFailureId : 0u) << QStringLiteral(TV_APP_ID)
         << QStringLiteral(TV_APP_NAME) << body << actions << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, opens, onShown](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            if (!std::exchange(serviceMissingLogged, true))
                qWarning().noquote() << "No desktop notifications:" << reply.error().message();
            return;
        }
        if (opens)
            opensWindow.insert(lastFailureId = reply.value(), true);
        if (onShown)
            onShown();
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString &actionKey)
{
    if (actionKey == QLatin1String("default") && opensWindow.value(id))
        emit openWindowRequested();
}
