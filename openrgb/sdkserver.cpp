#include "openrgb/sdkserver.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace openrgb {

struct SdkServer::Session {
    QTcpSocket *socket = nullptr;
    PacketReader reader;
    // Until the client says otherwise it speaks the first version.
    quint32 version = 0;
    QByteArray name;
};

SdkServer::SdkServer(QObject *parent) : QObject(parent) {}

SdkServer::~SdkServer() { close(); }

bool SdkServer::listen(quint16 port)
{
    close();
    error_.clear();
    bool taken = false;
    for (const QHostAddress &address : {QHostAddress(QHostAddress::LocalHost),
                                        QHostAddress(QHostAddress::LocalHostIPv6)}) {
        auto server = std::make_unique<QTcpServer>();
        // Connections wait in the kernel's queue only as long as it takes to
        // turn the ninth one away.
        server->setMaxPendingConnections(kMaxClients);
        if (!server->listen(address, port)) {
            // A machine without IPv6 still has its IPv4 loopback.
            if (server->serverError() == QAbstractSocket::AddressInUseError)
                taken = true;
            if (error_.isEmpty())
                error_ = address.toString() + QStringLiteral(": ") + server->errorString();
            continue;
        }
        QTcpServer *raw = server.get();
        connect(raw, &QTcpServer::newConnection, this, [this, raw] { accept(raw); });
        listeners_.push_back(std::move(server));
    }
    // Half a server on a taken port would serve some clients and not others.
    if (taken || listeners_.empty()) {
        listeners_.clear();
        return false;
    }
    error_.clear();
    return true;
}

void SdkServer::close()
{
    listeners_.clear();
    const bool hadClients = !sessions_.empty();
    for (auto &session : sessions_) {
        session->socket->disconnect(this);
        session->socket->abort();
        session->socket->deleteLater();
    }
    sessions_.clear();
    if (hadClients)
        emit clientsChanged(0);
}

bool SdkServer::isListening() const { return !listeners_.empty(); }

quint16 SdkServer::serverPort() const { return listeners_.empty() ? 0 : listeners_.front()->serverPort(); }

void SdkServer::accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        if (int(sessions_.size()) >= kMaxClients) {
            qWarning().noquote() << "OpenRGB SDK server: more than" << kMaxClients
                                 << "clients; one more is refused";
            socket->setParent(this);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Ours, not the listener's: closing the listeners must leave the
        // sessions to be closed in order.
        socket->setParent(this);
        auto session = std::make_unique<Session>();
        session->socket = socket;
        Session *raw = session.get();
        sessions_.push_back(std::move(session));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { serve(raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { drop(raw, nullptr); });
        emit clientsChanged(clientCount());
    }
}

void SdkServer::serve(Session *session)
{
    // Whatever part of a packet is here waits in the session's buffer; the
    // next readyRead brings the rest. Nobody ever waits for a slow client.
    session->reader.feed(session->socket->readAll());
    Header header;
    QByteArray data;
    for (;;) {
        const PacketReader::Status status = session->reader.next(header, data);
        if (status == PacketReader::Status::NeedMore)
            return;
        if (status == PacketReader::Status::Broken) {
            drop(session, "a packet without the OpenRGB magic or over 1 MiB");
            return;
        }
        handle(session, header, data);
        if (session->socket->bytesToWrite() > kMaxUnsent) {
            drop(session, "it does not read its replies");
            return;
        }
    }
}

void SdkServer::handle(Session *session, const Header &header, const QByteArray &data)
{
    QTcpSocket *socket = session->socket;
    const bool ours = header.deviceId == 0; // the one controller
    switch (header.id) {
    case Packet::RequestControllerCount:
        socket->write(packet(header.deviceId, header.id, uint32Data(1)));
        break;
    case Packet::RequestControllerData: {
        if (!ours)
            break;
        // Protocol 0 clients send no version; others the one both sides speak.
        const quint32 version =
            std::min(parseUint32(data).value_or(0), kServerProtocolVersion);
        socket->write(packet(header.deviceId, header.id, controllerData(controller_, version)));
        break;
    }
    case Packet::RequestProtocolVersion:
        session->version = std::min(parseUint32(data).value_or(0), kServerProtocolVersion);
        socket->write(packet(header.deviceId, header.id, uint32Data(kServerProtocolVersion)));
        break;
    case Packet::SetClientName:
        session->name = parseText(data).left(256);
        qDebug().noquote() << "OpenRGB SDK client:" << QString::fromUtf8(session->name);
        break;
    case Packet::RequestProfileList:
    case Packet::RequestPluginList:
        socket->write(packet(header.deviceId, header.id, emptyList()));
        break;
    case Packet::UpdateMode:
    case Packet::SaveMode:
        if (ours) {
            if (const auto command = parseModeCommand(data, session->version))
                emit modeRequested(command->index, command->mode, header.id == Packet::SaveMode);
        }
        break;
    case Packet::SetCustomMode:
        if (ours)
            emit customModeRequested();
        break;
    case Packet::UpdateLeds:
        if (ours) {
            if (const auto colours = parseLedColours(data))
                emit ledColoursRequested(*colours);
        }
        break;
    case Packet::UpdateZoneLeds:
        if (ours) {
            const auto zone = parseZoneColours(data);
            if (zone && int(zone->zone) < controller_.zones.size())
                emit ledColoursRequested(zone->colours);
        }
        break;
    case Packet::UpdateSingleLed:
        if (ours) {
            const auto led = parseSingleLed(data);
            if (led && led->led >= 0 && led->led < controller_.leds.size()) {
                QVector<Colour> colours = controller_.colours;
                colours.resize(controller_.leds.size());
                colours[led->led] = led->colour;
                emit ledColoursRequested(colours);
            }
        }
        break;
    default:
        // Resizing a zone of fixed size, profile commands and anything newer
        // are accepted and change nothing.
        break;
    }
}

void SdkServer::drop(Session *session, const char *why)
{
    const auto it = std::find_if(sessions_.begin(), sessions_.end(),
                                 [session](const auto &s) { return s.get() == session; });
    if (it == sessions_.end())
        return;
    if (why)
        qWarning().noquote() << "OpenRGB SDK server: client closed," << why;
    QTcpSocket *socket = session->socket;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    sessions_.erase(it);
    emit clientsChanged(clientCount());
}

} // namespace openrgb
