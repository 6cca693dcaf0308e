#include "app/traymanager.h"

#include <QCoreApplication>
#include <QIcon>

namespace {
constexpr int kBalloonMs = 3000;
}

TrayManager::TrayManager()
    : QObject(nullptr),
      trayIcon(new QSystemTrayIcon(this)),
      trayMenu(std::make_unique<QMenu>()),
      exitAction(std::make_unique<QAction>(QStringLiteral("Exit")))
{
    trayIcon->setIcon(QIcon(QStringLiteral(":/icon/TARVELL_LOGO_256.ico")));
    trayIcon->setToolTip(QStringLiteral("Tarvell Vorn"));
    trayMenu->addAction(exitAction.get());
    trayIcon->setContextMenu(trayMenu.get());
    trayIcon->show();
    connect(trayIcon, &QSystemTrayIcon::activated, this, &TrayManager::onActivated);
    connect(exitAction.get(), &QAction::triggered, this, [] { QCoreApplication::quit(); });
}

TrayManager::~TrayManager()
{
    // The menu must outlive the icon that shows it.
    delete trayIcon;
    trayIcon = nullptr;
}

void TrayManager::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        emit showWindowRequested();
}

void TrayManager::showMessage(QString title, QString message)
{
    trayIcon->showMessage(title, message, QSystemTrayIcon::Information, kBalloonMs);
}

void TrayManager::hideIcon() { trayIcon->hide(); }

void TrayManager::showIcon() { trayIcon->show(); }
