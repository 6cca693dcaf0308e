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

// Before the application object: what the process and Qt are set up with.
void setUpProcess()
{
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
}

void nameApplication()
{
    // A StatusNotifier tray shows the application name as the item's title.
    // Files and folders keep the executable's name (settingsfiles::dataFolder).
    QCoreApplication::setApplicationName(QStringLiteral(TV_APP_NAME));
    // Wayland compositors find the menu entry, and so the icon, by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TV_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon/TARVELL_LOGO_256.ico")));
}

struct DataFiles {
    QString dir = settingsfiles::dataFolder();
    QString marker = dir + QStringLiteral("/tarvell.txt");
    QString activationToken = dir + QStringLiteral("/activation-token");
    QString trayHintShown = dir + QStringLiteral("/tray-hint-shown");
};

// True when another instance of this user runs and has been asked to show
// its window: this start then has nothing more to do.
bool handedOverToRunningInstance(SingleInstance &instance, const DataFiles &files)
{
    const SingleInstance::Claim claim = instance.claim();
    if (claim == SingleInstance::Claim::AlreadyRunning) {
        handActivationTokenOver(files.activationToken);
        handOverToRunningInstance(files.marker);
        return true;
    }
    if (claim == SingleInstance::Claim::Failed)
        qWarning().noquote() << "Single-instance key not available (" + instance.errorString()
                + "); starting without it";
    return false;
}

void publish(QQmlApplicationEngine &engine, const char *name, QObject *object)
{
    engine.rootContext()->setContextProperty(QString::fromLatin1(name), object);
}

// Without a tray the hidden window could never be reached again. A panel
// started after the program brings its tray later: the scene learns of it.
void publishTray(QQmlApplicationEngine &engine, TrayManager &tray)
{
    publish(engine, "trayManager", &tray);
    engine.rootContext()->setContextProperty(QStringLiteral("trayAvailable"), tray.trayAvailable());
    QObject::connect(&tray, &TrayManager::trayAvailableChanged, &engine, [&engine](bool available) {
        engine.rootContext()->setContextProperty(QStringLiteral("trayAvailable"), available);
    });
}

void chooseSceneGraph()
{
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") && !openGlWorks()) {
        qWarning() << "No OpenGL context can be created; the scene is drawn in software";
        QQuickWindow::setSceneGraphBackend(QStringLiteral("software")); // the name both Qt 5 and 6 take
    }
}

// After a resume the card has lost the user's lighting and fan; before a
// suspend the fan goes back to the GPU, and only then may the machine sleep.
void followSleep(ResumeWatcher &watcher, std::unique_ptr<GPU_WORKER> &worker)
{
    QObject::connect(&watcher, &ResumeWatcher::resumed, [&worker] {
        if (worker)
            worker->reapplySavedChoices();
    });
    QObject::connect(&watcher, &ResumeWatcher::suspending, [&worker, &watcher] {
        if (!worker)
            return watcher.releaseInhibitor();
        // Runs on the worker thread once the fan is the GPU's again.
        worker->prepareForSleep([w = &watcher] {
            QMetaObject::invokeMethod(w, &ResumeWatcher::releaseInhibitor, Qt::QueuedConnection);
        });
    });
}

QQuickWindow *mainWindowOf(const QQmlApplicationEngine &engine)
{
    return engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
}

// While the window is hidden the desktop's notifications are the only way to
// tell the user anything.
void notifyWhileHidden(GPU_WORKER &worker, DesktopNotifier &notifier, const QQmlApplicationEngine &engine)
{
    QObject::connect(&worker, &GPU_WORKER::savedChoicesNotApplied, &notifier,
                     [&engine, &notifier](bool lighting, bool fan) {
                         QQuickWindow *window = mainWindowOf(engine);
                         if (window && (!window->isVisible() || window->windowState() == Qt::WindowMinimized))
                             notifier.choicesNotApplied(lighting, fan);
                     });
}

// Loads the scene and runs the event loop; -1 when the scene cannot load.
int runScene(QQmlApplicationEngine &engine, TrayManager &tray, DesktopNotifier &notifier)
{
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    QQuickWindow *window = mainWindowOf(engine);
    if (!window)
        return -1;
    HiddenWindowTrim trim(window);
    WindowFit fit(window);
    const auto showWindow = [window] { QMetaObject::invokeMethod(window, "showMainWindow"); };
    QObject::connect(&tray, &TrayManager::showWindowRequested, window, showWindow);
    QObject::connect(&notifier, &DesktopNotifier::openWindowRequested, window, showWindow);
    // Once started, only a close hides the window (without a tray the
    // program ends instead); the program's own end hides it below.
    const QMetaObject::Connection closedToTray
        = QObject::connect(window, &QWindow::visibleChanged, &notifier, [&notifier](bool visible) {
              if (!visible)
                  notifier.closedToTray();
          });
    const int exitCode = QApplication::exec();
    QObject::disconnect(closedToTray);
    engine.clearComponentCache();
    // The user asked to leave: icon and window go now, before the wait for
    // the worker's last pass.
    tray.hideIcon();
    for (QWindow *w : QGuiApplication::topLevelWindows())
        w->hide();
    QCoreApplication::processEvents();
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    // The fan guardian is this executable too, started by the worker with
    // its pipe; it needs nothing of the rest.
    if (argc == 3 && qstrcmp(argv[1], worker::kFanGuardianArgument) == 0)
        return worker::runFanGuardian(QByteArray(argv[2]).toInt(), known_card::kDevicePath);

    setUpProcess();
    auto app = std::make_unique<QApplication>(argc, argv);
    nameApplication();
    registerProtocolModule();
    auto engine = std::make_unique<QQmlApplicationEngine>();
    selectToolkitFiles(engine.get());
    auto instance = std::make_unique<SingleInstance>(QStringLiteral("TarvellUniqueAppKey"));

    const DataFiles files;
    settingsfiles::createDirectory(files.dir);
    if (handedOverToRunningInstance(*instance, files))
        return 0;
    QuitOnSignals quitOnSignals;
    settingsfiles::writeText(files.marker, QStringLiteral("0"));

    ActivationToken activationToken(files.activationToken);
    publish(*engine, "activationToken", &activationToken);
    auto tray = std::make_unique<TrayManager>();
    publishTray(*engine, *tray);
    chooseSceneGraph();

    auto worker = std::make_unique<GPU_WORKER>();
    publish(*engine, "workerThread", worker.get());
    // Off until the user turns it on; the saved choice arrives with the worker's start.
    auto openRgb = std::make_unique<OpenRgbBridge>(worker.get(),
                                                   QString::fromLatin1(worker->knownCards().value(0).name));
    publish(*engine, "openRgbSdk", openRgb.get());
    ResumeWatcher resumeWatcher;
    followSleep(resumeWatcher, worker);
    auto notifier = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus(), files.trayHintShown);
    notifyWhileHidden(*worker, *notifier, *engine);

    const int exitCode = runScene(*engine, *tray, *notifier);

    openRgb.reset();
    worker.reset();
    notifier.reset();
    tray.reset();
    instance.reset();
    engine.reset();
    app.reset();
    return exitCode;
}
