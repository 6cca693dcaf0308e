// Process entry: one instance at a time, the tray icon, the worker and the
// scene, torn down in reverse order.

#include "app/activationtoken.h"
#include "app/desktopnotifier.h"
#include "app/hiddenwindowtrim.h"
#include "app/openrgbbridge.h"
#include "app/quitonsignals.h"
#include "app/resumewatcher.h"
#include "app/singleinstance.h"
#include "app/traymanager.h"
#include "app/windowfit.h"
#include "mcu/card_mcu.h"
#include "qml/file_selector.h"
#include "qml/vocabulary.h"
#include "worker/backends.h"
#include "worker/gpu_worker.h"
#include "worker/settingsfiles.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWindow>

#include <malloc.h>

#include <cstdio>
#include <memory>

namespace {

// Heap arenas shared by all threads; the few busy ones rarely contend.
constexpr int kMallocArenas = 2;

// A virtual machine, a remote session or the offscreen platform may offer no
// OpenGL at all; the scene graph would abort there.
bool openGlWorks()
{
    QOpenGLContext context;
    if (!context.create())
        return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    const bool current = surface.isValid() && context.makeCurrent(&surface);
    if (current)
        context.doneCurrent();
    return current;
}

} // namespace

int main(int argc, char *argv[])
{
    // The fan guardian is this executable too, started by the worker with
    // its pipe; it needs nothing of the rest.
    if (argc == 3 && qstrcmp(argv[1], worker::kFanGuardianArgument) == 0)
        return worker::runFanGuardian(QByteArray(argv[2]).toInt(), known_card::kDevicePath);

    // Every thread that ever allocated would otherwise get an arena of its
    // own. The render thread comes and goes with the window, and what the GL
    // driver leaves behind in a finished thread's arena stayed resident in
    // the tray, a few MB more or less from one start to the next.
    mallopt(M_ARENA_MAX, kMallocArenas);

    // The log is read live (a terminal, a pipe to tee, a test): whole lines
    // must leave at once, not when a pipe buffer happens to fill.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling); // always on in Qt 6
#endif
    QCoreApplication::setAttribute(Qt::AA_UseSoftwareOpenGL);

    auto app = std::make_unique<QApplication>(argc, argv);
    // A StatusNotifier tray shows the application name as the item's title.
    // Files and folders keep the executable's name (settingsfiles::dataFolder).
    QCoreApplication::setApplicationName(QStringLiteral(TV_APP_NAME));
    // Wayland compositors find the menu entry, and so the icon, by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TV_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon/TARVELL_LOGO_256.ico")));
    registerProtocolModule();
    auto engine = std::make_unique<QQmlApplicationEngine>();
    selectToolkitFiles(engine.get());
    auto instance = std::make_unique<SingleInstance>(QStringLiteral("TarvellUniqueAppKey"));

    const QString dataDir = settingsfiles::dataFolder();
    settingsfiles::createDirectory(dataDir);
    const QString markerPath = dataDir + QStringLiteral("/tarvell.txt");
    const QString tokenPath = dataDir + QStringLiteral("/activation-token");

    const SingleInstance::Claim claim = instance->claim();
    if (claim == SingleInstance::Claim::AlreadyRunning) {
        // Another instance of this user runs: ask it to show its window, then leave.
        handActivationTokenOver(tokenPath);
        handOverToRunningInstance(markerPath);
        return 0;
    }
    if (claim == SingleInstance::Claim::Failed)
        qWarning().noquote() << "Single-instance key not available (" + instance->errorString()
                + "); starting without it";
    QuitOnSignals quitOnSignals;
    settingsfiles::writeText(markerPath, QStringLiteral("0"));

    ActivationToken activationToken(tokenPath);
    engine->rootContext()->setContextProperty(QStringLiteral("activationToken"), &activationToken);

    auto tray = std::make_unique<TrayManager>();
    engine->rootContext()->setContextProperty(QStringLiteral("trayManager"), tray.get());
    // Without a tray the hidden window could never be reached again. A panel
    // started after the program brings its tray later: the scene learns of it.
    engine->rootContext()->setContextProperty(QStringLiteral("trayAvailable"), tray->trayAvailable());
    QObject::connect(tray.get(), &TrayManager::trayAvailableChanged, [&engine](bool available) {
        engine->rootContext()->setContextProperty(QStringLiteral("trayAvailable"), available);
    });

    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") && !openGlWorks()) {
        qWarning() << "No OpenGL context can be created; the scene is drawn in software";
        QQuickWindow::setSceneGraphBackend(QStringLiteral("software")); // the name both Qt 5 and 6 take
    }

    auto worker = std::make_unique<GPU_WORKER>();
    engine->rootContext()->setContextProperty(QStringLiteral("workerThread"), worker.get());
    // Off until the user turns it on; the saved choice arrives with the worker's start.
    auto openRgb = std::make_unique<OpenRgbBridge>(worker.get(),
                                                   QString::fromLatin1(worker->knownCards().value(0).name));
    engine->rootContext()->setContextProperty(QStringLiteral("openRgbSdk"), openRgb.get());
    ResumeWatcher resumeWatcher;
    QObject::connect(&resumeWatcher, &ResumeWatcher::resumed, [&worker] {
        if (worker)
            worker->reapplySavedChoices();
    });
    QObject::connect(&resumeWatcher, &ResumeWatcher::suspending, [&worker, &resumeWatcher] {
        if (!worker)
            return resumeWatcher.releaseInhibitor();
        // Runs on the worker thread once the fan is the GPU's again.
        worker->prepareForSleep([watcher = &resumeWatcher] {
            QMetaObject::invokeMethod(watcher, &ResumeWatcher::releaseInhibitor, Qt::QueuedConnection);
        });
    });

    // While the window is hidden the desktop's notifications are the only
    // way to tell the user anything.
    auto notifier = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus(),
                                                      dataDir + QStringLiteral("/tray-hint-shown"));
    const auto mainWindow = [&engine] {
        return engine->rootObjects().isEmpty() ? nullptr
                                               : qobject_cast<QQuickWindow *>(engine->rootObjects().first());
    };
    QObject::connect(worker.get(), &GPU_WORKER::savedChoicesNotApplied, notifier.get(),
                     [&mainWindow, shown = notifier.get()](bool lighting, bool fan) {
                         QQuickWindow *window = mainWindow();
                         if (window && (!window->isVisible() || window->windowState() == Qt::WindowMinimized))
                             shown->choicesNotApplied(lighting, fan);
                     });

    engine->load(QUrl(QStringLiteral("qrc:/main.qml")));

    int exitCode = -1;
    if (!engine->rootObjects().isEmpty()) {
        QObject *root = engine->rootObjects().first();
        HiddenWindowTrim trim(qobject_cast<QQuickWindow *>(root));
        WindowFit fit(qobject_cast<QQuickWindow *>(root));
        QObject::connect(tray.get(), &TrayManager::showWindowRequested, root,
                         [root] { QMetaObject::invokeMethod(root, "showMainWindow"); });
        QObject::connect(notifier.get(), &DesktopNotifier::openWindowRequested, root,
                         [root] { QMetaObject::invokeMethod(root, "showMainWindow"); });
        // Once started, only a close hides the window (without a tray the
        // program ends instead); the program's own end hides it below.
        QMetaObject::Connection closedToTray;
        if (QQuickWindow *window = mainWindow())
            closedToTray = QObject::connect(window, &QWindow::visibleChanged, notifier.get(),
                                            [hint = notifier.get()](bool visible) {
                                                if (!visible)
                                                    hint->closedToTray();
                                            });
        exitCode = QApplication::exec();
        QObject::disconnect(closedToTray);
        engine->clearComponentCache();
        // The user asked to leave: icon and window go now, before the wait
        // for the worker's last pass.
        tray->hideIcon();
        for (QWindow *window : QGuiApplication::topLevelWindows())
            window->hide();
        QCoreApplication::processEvents();
    }

    openRgb.reset();
    worker.reset();
    notifier.reset();
    tray.reset();
    instance.reset();
    engine.reset();
    app.reset();
    return exitCode;
}
