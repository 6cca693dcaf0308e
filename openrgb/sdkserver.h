#pragma once
// An OpenRGB SDK server for one controller, on the loopback addresses only.
// It answers what clients ask of the controller it is given and reports what
// they want changed; whoever owns it decides what a change does.

#include "openrgb/sdkprotocol.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace openrgb {

class SdkServer : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxClients = 8;
    // A client that stops reading is dropped before its replies pile up.
    static constexpr qint64 kMaxUnsent = 4 * 1024 * 1024;

    explicit SdkServer(QObject *parent = nullptr);
    ~SdkServer() override;

    // Listens on 127.0.0.1 and ::1. False when the port is taken (or no
    // loopback address can be had); errorString() says why.
    bool listen(quint16 port);
    void close();
    bool isListening() const;
    // The port of the IPv4 listener (what port 0 turned into), or 0.
    quint16 serverPort() const;
    QString errorString() const { return error_; }
    int clientCount() const { return int(sessions_.size()); }

    // What every later controller data request is answered with.
    void setController(const Controller &controller) { controller_ = controller; }
    const Controller &controller() const { return controller_; }

signals:
    // UpdateMode and SaveMode, with the mode as the client sent it.
    void modeRequested(int index, const openrgb::Mode &mode, bool save);
    void customModeRequested();
    // UpdateLEDs, UpdateZoneLEDs and UpdateSingleLED, as colours of all LEDs.
    void ledColoursRequested(const QVector<openrgb::Colour> &colours);
    void clientsChanged(int count);

private:
    struct Session;
    void accept(QTcpServer *server);
    void serve(Session *session);
    void handle(Session *session, const Header &header, const QByteArray &data);
    void drop(Session *session, const char *why);

    std::vector<std::unique_ptr<QTcpServer>> listeners_;
    std::vector<std::unique_ptr<Session>> sessions_;
    Controller controller_;
    QString error_;
};

} // namespace openrgb
