#pragma once
// The program's icon in the system tray: how the user brings the hidden
// window back and how the user ends the program.

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

class TrayWatcher;

class TrayManager : public QObject
{
    Q_OBJECT

public:
    TrayManager();
    ~TrayManager() override;

    bool trayAvailable() const;

signals:
    void showWindowRequested();
    void trayAvailableChanged(bool available);

private slots:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

public:
    Q_INVOKABLE void showMessage(QString title, QString message);
    Q_INVOKABLE void hideIcon();
    Q_INVOKABLE void showIcon();

private:
    void createIcon();

    QSystemTrayIcon *trayIcon = nullptr; // child of this object, made once a tray is there
    std::unique_ptr<QMenu> trayMenu;
    std::unique_ptr<QAction> exitAction;
    TrayWatcher *watcher; // child of this object
    bool iconWanted = true;
};
