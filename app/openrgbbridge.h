#pragma once
// The card as one controller of an OpenRGB SDK server. What a client asks for
// becomes the worker request a click on the lighting page sends; what the
// worker saved, from either side, is what clients read back.

#include "openrgb/sdkserver.h"
#include "worker/protocol.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

class GPU_WORKER;

namespace openrgbcard {

constexpr quint16 kDefaultPort = 6743;
// Modes by index: Direct, the card's effects under their own numbers, then
// Off.
constexpr int kDirectMode = 0;
constexpr int kOffMode = Effect::kLast + 1;
static_assert(kDirectMode < Effect::kFirst, "Direct comes before the effects");

openrgb::Controller controller(const QVariantMap &choices, bool direct, const QByteArray &name,
                               const QByteArray &firmware);
// The lighting request for a mode as a client sent it, or none for a mode
// the card does not have.
std::optional<QVariantMap> requestFor(int index, const openrgb::Mode &mode,
                                      const QVariantMap &choices);
// The settings as they will be once `request` is saved.
QVariantMap choicesAfter(const QVariantMap &choices, const QVariantMap &request);

} // namespace openrgbcard

class OpenRgbBridge : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusChanged)

public:
    OpenRgbBridge(GPU_WORKER *worker, const QString &cardName, QObject *parent = nullptr);
    QString statusText() const { return status_; }

signals:
    void statusChanged();
    // A client changed the lighting: the settings as the lighting page should show them.
    void lightingChanged(QVariantMap choices);

private:
    void choicesSaved(int function, const QVariantMap &choices);
    // On start-up and when the switch is flipped; a taken port is tried again then.
    void applyServerChoice();
    void modeRequested(int index, const openrgb::Mode &mode);
    void ledColoursRequested(const QVector<openrgb::Colour> &colours);
    void submit(const std::optional<QVariantMap> &request);
    void pump();
    void publish();
    void setStatus(const QString &text);

    GPU_WORKER *worker_;
    openrgb::SdkServer server_;
    QByteArray name_;
    QByteArray firmware_;
    bool firmwareAsked_ = false;
    QVariantMap choices_;
    bool direct_ = false;
    // At most one lighting sequence on its way to the card; of those that
    // come meanwhile only the latest is kept.
    bool inFlight_ = false;
    std::optional<QVariantMap> pending_;
    quint16 port_ = 0;
    QString status_;
};
