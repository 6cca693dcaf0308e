// Process entry: one instance at a time, the tray icon, the worker and the
// scene, torn down in reverse order.

#include "app/resumewatcher.h"
#include "app/singleinstance.h"
#include "app/traymanager.h"
#include "worker/gpu_worker.h"
#include "worker/settingsfiles.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    // The log is read live (a terminal, a pipe to tee, a test): whole lines
    // must leave at once, not when a pipe buffer happens to fill.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseSoftwareOpenGL);

    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon/TARVELL_LOGO_256.ico")));
    auto engine = std::make_unique<QQmlApplicationEngine>();
    auto instance = std::make_unique<SingleInstance>(QStringLiteral("TarvellUniqueAppKey"));

    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    settingsfiles::createDirectory(dataDir);
    const QString markerPath = dataDir + QStringLiteral("/tarvell.txt");

    if (!instance->claim()) {
        // Another instance runs: ask it to show its window, then leave.
        handOverToRunningInstance(markerPath);
        return 0;
    }
    settingsfiles::writeText(markerPath, QStringLiteral("0"));

    auto tray = std::make_unique<TrayManager>();
    engine->rootContext()->setContextProperty(QStringLiteral("trayManager"), tray.get());
    // Without a tray the hidden window could never be reached again.
    engine->rootContext()->setContextProperty(QStringLiteral("trayAvailable"),
                                              QSystemTrayIcon::isSystemTrayAvailable());

    auto worker = std::make_unique<GPU_WORKER>();
    engine->rootContext()->setContextProperty(QStringLiteral("workerThread"), worker.get());
    ResumeWatcher resumeWatcher;
    QObject::connect(&resumeWatcher, &ResumeWatcher::resumed, [&worker] {
        if (worker)
            worker->reapplySavedChoices();
    });

    engine->load(QUrl(QStringLiteral("qrc:/main.qml")));

    int exitCode = -1;
    if (!engine->rootObjects().isEmpty()) {
        QObject *root = engine->rootObjects().first();
        QObject::connect(tray.get(), &TrayManager::showWindowRequested, root,
                         [root] { QMetaObject::invokeMethod(root, "showMainWindow"); });
        exitCode = QApplication::exec();
        engine->clearComponentCache();
    }

    worker.reset();
    tray.reset();
    instance.reset();
    engine.reset();
    app.reset();
    return exitCode;
}
