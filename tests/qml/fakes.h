#pragma once
// Stand-ins for the objects the real program hands to the scene. They record
// what the scene asks of them and let a test play the worker's part.

#include <QObject>
#include <QVariantList>
#include <QVariantMap>

class QQmlEngine;

// Plays "workerThread": keeps every request dictionary in order and emits any
// reply a test hands it, synchronously, as the worker's queued signal would
// arrive on the GUI thread.
class FakeWorker : public QObject {
    Q_OBJECT
    Q_PROPERTY(int startCount READ startCount NOTIFY recorded)
    Q_PROPERTY(int requestCount READ requestCount NOTIFY recorded)
public:
    using QObject::QObject;

    int startCount() const { return m_startCount; }
    int requestCount() const { return m_requests.size(); }

    Q_INVOKABLE void start();
    Q_INVOKABLE void receiveDataFromQML(const QVariantMap &data);

    Q_INVOKABLE QVariantList requests() const { return m_requests; }
    Q_INVOKABLE QVariantMap request(int index) const;
    Q_INVOKABLE QVariantMap lastRequest() const;
    Q_INVOKABLE void reply(const QVariantMap &data) { emit dataChanged(data); }
    Q_INVOKABLE void reset();

signals:
    void started();
    void dataChanged(QVariantMap data);
    void recorded();

private:
    int m_startCount = 0;
    QVariantList m_requests;
};

// Plays "trayManager".
class FakeTray : public QObject {
    Q_OBJECT
    Q_PROPERTY(int showIconCount READ showIconCount NOTIFY changed)
public:
    using QObject::QObject;
    int showIconCount() const { return m_showIconCount; }
    Q_INVOKABLE void showIcon();
    Q_INVOKABLE void hideIcon() {}
    Q_INVOKABLE void showMessage(const QString &, const QString &) {}
    Q_INVOKABLE void reset();
signals:
    void changed();
    void showWindowRequested();
private:
    int m_showIconCount = 0;
};

// Published as "harness": what a test needs beyond the two fakes.
class Harness : public QObject {
    Q_OBJECT
    Q_PROPERTY(int quitCount READ quitCount NOTIFY changed)
public:
    explicit Harness(QQmlEngine *engine, QObject *parent = nullptr);
    int quitCount() const { return m_quitCount; }
    // Changes the "trayAvailable" context property for scenes created afterwards.
    Q_INVOKABLE void setTrayAvailable(bool available);
    Q_INVOKABLE void resetQuitCount();
signals:
    void changed();
private:
    QQmlEngine *m_engine;
    int m_quitCount = 0;
};
