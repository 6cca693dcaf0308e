#include "app/traymanager.h"

#include "app/traywatcher.h"

#include <QCoreApplication>
#include <QIcon>

#include <cstdio>

namespace {
constexpr int kBalloonMs = 3000;
}

TrayManager::TrayManager()
    : QObject(nullptr),
      trayMenu(std::make_unique<QMenu>()),
      exitAction(std::make_unique<QAction>(QStringLiteral("Exit"))),
      watcher(new TrayWatcher(this))
{
    trayMenu->addAction(exitAction.get());
    connect(exitAction.get(), &QAction::triggered, this, [] { QCoreApplication::quit(); });
    connect(watcher, &TrayWatcher::availableChanged, this, [this](bool available) {
        if (available && !trayIcon)
            createIcon();
        emit trayAvailableChanged(available);
    });
    connect(watcher, &TrayWatcher::statusNotifierHandedOver, this, [this] {
        if (trayIcon && trayIcon->isVisible()) {
            trayIcon->hide();
            trayIcon->show();
        }
    });
    // Qt picks the StatusNotifier or the XEmbed way once, when the icon is
    // made: made before any tray is up, it would never reach a late one.
    if (watcher->available())
        createIcon();
    else
        std::printf("No system tray yet; waiting for one\n");
}

TrayManager::~TrayManager()
{
    // The menu must outlive the icon that shows it.
    delete trayIcon;
    trayIcon = nullptr;
}

bool TrayManager::trayAvailable() const { return watcher->available(); }

void TrayManager::createIcon()
{
    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setIcon(QIcon(QStringLiteral(":/icon/TARVELL_LOGO_256.ico")));
    trayIcon->setToolTip(QStringLiteral("Tarvell Vorn"));
    trayIcon->setContextMenu(trayMenu.get());
    connect(trayIcon, &QSystemTrayIcon::activated, this, &TrayManager::onActivated);
    if (iconWanted)
        trayIcon->show();
    std::printf("Tray icon shown through %s\n",
                watcher->statusNotifierPresent() ? "StatusNotifierItem" : "XEmbed");
}

void TrayManager::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        emit showWindowRequested();
}

void TrayManager::showMessage(QString title, QString message)
{
    if (trayIcon)
        trayIcon->showMessage(title, message, QSystemTrayIcon::Information, kBalloonMs);
}

void TrayManager::hideIcon()
{
    iconWanted = false;
    if (trayIcon)
        trayIcon->hide();
}

void TrayManager::showIcon()
{
    iconWanted = true;
    if (trayIcon)
        trayIcon->show();
}
