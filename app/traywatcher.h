#pragma once
// Tells when a tray to show the icon in comes or goes: a StatusNotifier
// watcher on the session bus (KDE, GNOME with the AppIndicator extension,
// XFCE, wlroots panels) or, on X11, the owner of the XEmbed tray selection.
// Both are learnt from the desktop's own notifications: asking Qt whether a
// tray is there opens a new bus connection each time.

#include <QObject>

class QDBusServiceWatcher;
class QSocketNotifier;

class TrayWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TrayWatcher(QObject *parent = nullptr);
    ~TrayWatcher() override;

    bool available() const { return statusNotifier || xembed; }
    bool statusNotifierPresent() const { return statusNotifier; }

signals:
    void availableChanged(bool available);
    // A new watcher took the name straight from the old one (a panel started
    // with --replace). Qt registers its item again only with a watcher that
    // comes after a gap.
    void statusNotifierHandedOver();

private:
    void setStatusNotifier(bool present);
    void setXembed(bool present);
    void watchXembedSelection();
    void readXEvents();

    QDBusServiceWatcher *busWatcher = nullptr;
    bool statusNotifier = false;
    bool xembed = false;
    // A display connection of our own, so Qt's is left as Qt set it up.
    void *xcbConnection = nullptr;
    QSocketNotifier *xNotifier = nullptr;
    unsigned xembedSelection = 0;
    int xfixesEventBase = -1;
};
