// Scene test runner: every tst_*.qml file here runs as its own ctest entry.
// Context properties: workerThread (FakeWorker: records requests, reply(map)
// plays the worker), trayManager (FakeTray), trayAvailable, harness (counts
// Qt.quit() calls). ShellFixture.qml creates the real window on them.

#include "fakes.h"

#include <QByteArray>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtQuickTest>

class Setup : public QObject {
    Q_OBJECT
public:
    Setup()
    {
        // Nothing the scene or Qt caches may land in the real user's folders.
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (m_home.path() + QStringLiteral("/cache")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/config")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", (m_home.path() + QStringLiteral("/data")).toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        qputenv("QML_DISABLE_DISK_CACHE", "1");
        // Headless runs have no OpenGL; the software scene graph draws the
        // scene but no shader effects (tints, gradients). Under an X server
        // (Mesa's software OpenGL) everything is drawn and can be grabbed.
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        const bool headless = platform.startsWith("offscreen") || platform.startsWith("minimal");
        if (headless && qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
            qputenv("QT_QUICK_BACKEND", "software");
    }

public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        auto *worker = new FakeWorker(engine);
        auto *tray = new FakeTray(engine);
        auto *harness = new Harness(engine, engine);
        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("workerThread"), worker);
        context->setContextProperty(QStringLiteral("trayManager"), tray);
        context->setContextProperty(QStringLiteral("trayAvailable"), true);
        context->setContextProperty(QStringLiteral("harness"), harness);
    }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_runtime;
};

QUICK_TEST_MAIN_WITH_SETUP(tarvell_scene, Setup)

#include "main.moc"
