// Scene test runner: every tst_*.qml file here runs as its own ctest entry.
// One stand-in plays the worker (keeps each request, emits any reply a test
// hands it at once, as the queued signal would arrive), the tray, and
// "harness": counts Qt.quit(), keeps the addresses the scene opens and
// switches "trayAvailable" for later scenes.

#include "qml/file_selector.h"
#include "qml/vocabulary.h"

#include <QDesktopServices>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtQuickTest>

class Stand : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList requests MEMBER requests)
    Q_PROPERTY(int quits MEMBER quits)
    Q_PROPERTY(QStringList opened MEMBER opened)
public:
    explicit Stand(QQmlEngine *engine) : QObject(engine), engine(engine)
    {
        connect(engine, &QQmlEngine::quit, this, [this] { ++quits; });
        QDesktopServices::setUrlHandler("https", this, "open");
    }
    ~Stand() override { QDesktopServices::unsetUrlHandler("https"); }
    Q_INVOKABLE void open(const QUrl &url) { opened.append(url.toString()); }
    Q_INVOKABLE void start() { emit started(); }
    Q_INVOKABLE void receiveDataFromQML(const QVariantMap &data) { requests.append(data); }
    Q_INVOKABLE void reply(const QVariantMap &data) { emit dataChanged(data); }
    Q_INVOKABLE void showIcon() {}
    Q_INVOKABLE void setTrayAvailable(bool on) { engine->rootContext()->setContextProperty("trayAvailable", on); }
    Q_INVOKABLE bool autoStartEnabled() const { return autoStart; }
    Q_INVOKABLE void setAutoStart(bool on) { autoStart = on; }
signals:
    void started();
    void dataChanged(QVariantMap data);
private:
    QQmlEngine *engine;
    QVariantList requests;
    int quits = 0;
    QStringList opened;
    bool autoStart = false;
};

class Setup : public QObject {
    Q_OBJECT
public:
    Setup()
    {
        // Nothing the scene or Qt caches may land in the real user's folders.
        for (const char *name : {"HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            qputenv(name, m_home.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        qputenv("QML_DISABLE_DISK_CACHE", "1");
        // Headless runs have no OpenGL; under an X server Mesa draws shader effects too.
        if (qgetenv("QT_QPA_PLATFORM").startsWith("offscreen") && qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
            qputenv("QT_QUICK_BACKEND", "software");
    }
public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        registerProtocolModule();
        selectToolkitFiles(engine);
        auto *stand = new Stand(engine);
        for (const char *name : {"workerThread", "trayManager", "harness"})
            engine->rootContext()->setContextProperty(name, stand);
        engine->rootContext()->setContextProperty("trayAvailable", true);
    }
private:
    QTemporaryDir m_home, m_runtime;
};

QUICK_TEST_MAIN_WITH_SETUP(tarvell_scene, Setup)

#include "main.moc"
