#include "app/traywatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QSocketNotifier>

#ifdef TV_HAVE_XFIXES
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#endif

#include <cstdlib>

namespace {
const QString kWatcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
}

TrayWatcher::TrayWatcher(QObject *parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        busWatcher = new QDBusServiceWatcher(kWatcherName, bus,
                                             QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(busWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString &, const QString &oldOwner, const QString &newOwner) {
                    if (!oldOwner.isEmpty() && !newOwner.isEmpty())
                        emit statusNotifierHandedOver();
                    setStatusNotifier(!newOwner.isEmpty());
                });
        // Asked once, after the watch is in place, so no change falls between.
        statusNotifier = bus.interface()->isServiceRegistered(kWatcherName).value();
    }
    watchXembedSelection();
}

TrayWatcher::~TrayWatcher()
{
#ifdef TV_HAVE_XFIXES
    delete xNotifier;
    if (xcbConnection)
        xcb_disconnect(static_cast<xcb_connection_t *>(xcbConnection));
#endif
}

void TrayWatcher::setStatusNotifier(bool present)
{
    const bool before = available();
    statusNotifier = present;
    if (available() != before)
        emit availableChanged(available());
}

void TrayWatcher::setXembed(bool present)
{
    const bool before = available();
    xembed = present;
    if (available() != before)
        emit availableChanged(available());
}

#ifdef TV_HAVE_XFIXES

// The tray manager of the first screen owns this selection for as long as it
// runs; XFixes tells every owner change, so nothing needs asking again.
void TrayWatcher::watchXembedSelection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    xcbConnection = c;
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_xfixes_id);
    static const char name[] = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 1, 0), nullptr));
    if (!ext || !ext->present || !atom) {
        std::free(atom);
        return;
    }
    xembedSelection = atom->atom;
    std::free(atom);
    xfixesEventBase = ext->first_event;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_xfixes_select_selection_input(c, root, xembedSelection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, xembedSelection), nullptr);
    xembed = owner && owner->owner != XCB_NONE;
    std::free(owner);
    xNotifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    connect(xNotifier, &QSocketNotifier::activated, this, &TrayWatcher::readXEvents);
    readXEvents();
}

void TrayWatcher::readXEvents()
{
    auto *c = static_cast<xcb_connection_t *>(xcbConnection);
    if (xcb_connection_has_error(c)) {
        xNotifier->setEnabled(false); // the display went away; so did its tray
        setXembed(false);
        return;
    }
    while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
        if ((event->response_type & 0x7f) == xfixesEventBase + XCB_XFIXES_SELECTION_NOTIFY) {
            auto *notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t *>(event);
            if (notify->selection == xembedSelection)
                setXembed(notify->owner != XCB_NONE);
        }
        std::free(event);
    }
}

#else

void TrayWatcher::watchXembedSelection() {}
void TrayWatcher::readXEvents() {}

#endif
