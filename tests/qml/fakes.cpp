#include "fakes.h"

#include <QQmlContext>
#include <QQmlEngine>

void FakeWorker::start()
{
    ++m_startCount;
    emit recorded();
    emit started();
}

void FakeWorker::receiveDataFromQML(const QVariantMap &data)
{
    m_requests.append(data);
    emit recorded();
}

QVariantMap FakeWorker::request(int index) const
{
    if (index < 0 || index >= m_requests.size())
        return {};
    return m_requests.at(index).toMap();
}

QVariantMap FakeWorker::lastRequest() const
{
    return m_requests.isEmpty() ? QVariantMap() : m_requests.constLast().toMap();
}

void FakeWorker::reset()
{
    m_startCount = 0;
    m_requests.clear();
    emit recorded();
}

void FakeTray::showIcon()
{
    ++m_showIconCount;
    emit changed();
}

void FakeTray::reset()
{
    m_showIconCount = 0;
    emit changed();
}

Harness::Harness(QQmlEngine *engine, QObject *parent) : QObject(parent), m_engine(engine)
{
    // Qt.quit() in the scene reaches the engine; count it instead of ending the run.
    connect(engine, &QQmlEngine::quit, this, [this] {
        ++m_quitCount;
        emit changed();
    });
}

void Harness::setTrayAvailable(bool available)
{
    m_engine->rootContext()->setContextProperty(QStringLiteral("trayAvailable"), available);
}

void Harness::resetQuitCount()
{
    m_quitCount = 0;
    emit changed();
}
