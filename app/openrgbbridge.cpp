#include "app/openrgbbridge.h"

#include "worker/gpu_worker.h"
#include "worker/protocol.h"

#include <QDebug>

namespace openrgbcard {

namespace {

using openrgb::Colour;
using openrgb::Mode;

int hexByte(const QVariant &v, int fallback)
{
    bool ok = false;
    const int n = v.toString().toInt(&ok, 16);
    return ok && n >= 0 && n <= 255 && v.toString().size() == 2 ? n : fallback;
}

Colour savedColour(const QVariantMap &choices)
{
    return openrgb::colour(hexByte(choices.value(Key::RHex), 0xFB), hexByte(choices.value(Key::GHex), 0),
                           hexByte(choices.value(Key::BHex), 0));
}

int savedSpeed(const QVariantMap &choices)
{
    bool ok = false;
    const int n = choices.value(Key::ARGBSliderSpeed).toInt(&ok);
    return ok ? qBound(Speed::kSlowest, n, Speed::kFastest) : Speed::kFastest;
}

QString hex(int byte) { return QString::number(byte, 16).rightJustified(2, QLatin1Char('0')); }

QVariantMap lighting(int effect, int speed, Colour c, const QVariantMap &choices)
{
    return QVariantMap{
        {Key::Function, int(Request::ArgbControl)},
        {Key::RGB, QString(Value::On)},
        {Key::DisplayMode, choices.value(Key::DisplayMode).toInt()},
        {Key::Effect, effect},
        {Key::ARGBSliderSpeed, speed},
        {Key::Speed, Speed::byteOf(speed)},
        {Key::RHex, hex(openrgb::red(c))},
        {Key::GHex, hex(openrgb::green(c))},
        {Key::BHex, hex(openrgb::blue(c))},
    };
}

} // namespace

openrgb::Controller controller(const QVariantMap &choices, bool direct, const QByteArray &name,
                               const QByteArray &firmware)
{
    const Colour c = savedColour(choices);
    openrgb::Controller card;
    card.type = openrgb::DeviceType::Gpu;
    card.name = name;
    card.vendor = "TARVELL";
    card.description = "ARGB lighting of the graphics card, through Tarvell Vorn";
    card.version = firmware;
    card.location = "Tarvell Vorn";

    Mode directMode;
    directMode.name = "Direct";
    directMode.value = kDirectMode;
    directMode.flags = openrgb::ModeFlag::HasPerLedColour;
    directMode.colourMode = openrgb::ColourMode::PerLed;
    card.modes << directMode;
    for (int effect = Effect::kFirst; effect <= Effect::kLast; ++effect) {
        const Effect::Look &e = Effect::lookOf(effect);
        Mode m;
        m.name = e.name;
        m.value = effect;
        // A static colour has no pace; the card still takes a speed byte.
        if (effect != Effect::Static) {
            m.flags |= openrgb::ModeFlag::HasSpeed;
            m.speedMin = Speed::kSlowest;
            m.speedMax = Speed::kFastest;
            m.speed = quint32(savedSpeed(choices));
        }
        if (e.usesColour) {
            m.flags |= openrgb::ModeFlag::HasModeSpecificColour;
            m.coloursMin = m.coloursMax = 1;
            m.colourMode = openrgb::ColourMode::ModeSpecific;
            m.colours << c;
        }
        card.modes << m;
    }
    Mode off;
    off.name = "Off";
    off.value = kOffMode;
    card.modes << off;

    const int effect = choices.value(Key::ArgbEffect).toInt();
    if (choices.value(Key::RGB).toString() == Value::Off)
        card.activeMode = kOffMode;
    else if (direct && effect == Effect::Static)
        card.activeMode = kDirectMode;
    else
        card.activeMode = Effect::isEffect(effect) ? effect : Effect::kDefault;

    card.zones << openrgb::Zone{"GPU", openrgb::ZoneType::Single, 1, 1, 1};
    card.leds << openrgb::Led{"GPU", 0};
    card.colours << c;
    return card;
}

std::optional<QVariantMap> requestFor(int index, const Mode &mode, const QVariantMap &choices)
{
    if (index == kOffMode) {
        // As the lighting page's switch does it: a black Static that keeps
        // the user's colour in the settings.
        QVariantMap off = lighting(Effect::Static, savedSpeed(choices), openrgb::colour(0, 0, 0), choices);
        off[Key::Function] = int(Request::ArgbSwitch);
        off[Key::RGB] = QString(Value::Off);
        return off;
    }
    if (index == kDirectMode)
        return lighting(Effect::Static, savedSpeed(choices), savedColour(choices), choices);
    if (!Effect::isEffect(index))
        return std::nullopt;
    const bool paced = index != Effect::Static && Speed::isPosition(int(mode.speed));
    const int speed = paced ? int(mode.speed) : savedSpeed(choices);
    const Colour c = Effect::lookOf(index).usesColour && !mode.colours.isEmpty() ? mode.colours.first()
                                                                                : savedColour(choices);
    return lighting(index, speed, c, choices);
}

QVariantMap choicesAfter(const QVariantMap &choices, const QVariantMap &request)
{
    QVariantMap after = choices;
    after[Key::RGB] = request.value(Key::RGB);
    after[Key::RGBControlMode] = QString(Value::Mcu);
    if (request.value(Key::Function).toInt() == Request::ArgbControl) {
        for (const QLatin1String &key : {Key::RHex, Key::GHex, Key::BHex, Key::Speed, Key::ARGBSliderSpeed})
            after[key] = request.value(key);
        after[Key::ArgbEffect] = request.value(Key::Effect).toString();
    }
    return after;
}

} // namespace openrgbcard

namespace {

bool sameLighting(const QVariantMap &a, const QVariantMap &b)
{
    const auto text = [](const QVariantMap &m, const QLatin1String &key) {
        return m.value(key).toString().toLower();
    };
    const auto number = [](const QVariantMap &m, const QLatin1String &key) { return m.value(key).toInt(); };
    if (text(a, Key::RGB) != text(b, Key::RGB) || text(a, Key::RGBControlMode) != text(b, Key::RGBControlMode))
        return false;
    if (text(a, Key::RGB) == QLatin1String("off"))
        return true;
    return number(a, Key::ArgbEffect) == number(b, Key::ArgbEffect)
        && number(a, Key::ARGBSliderSpeed) == number(b, Key::ARGBSliderSpeed)
        && text(a, Key::RHex) == text(b, Key::RHex) && text(a, Key::GHex) == text(b, Key::GHex)
        && text(a, Key::BHex) == text(b, Key::BHex);
}

} // namespace

OpenRgbBridge::OpenRgbBridge(GPU_WORKER *worker, const QString &cardName, QObject *parent)
    : QObject(parent), worker_(worker), name_(cardName.toUtf8())
{
    connect(worker, &GPU_WORKER::choicesSaved, this, &OpenRgbBridge::choicesSaved, Qt::QueuedConnection);
    connect(worker, &GPU_WORKER::dataChanged, this, [this](const QVariantMap &reply) {
        if (reply.value(Key::Function).toInt() != Reply::FirmwareVersion)
            return;
        firmware_ = reply.value(Key::FirmwareVersion).toString().toUtf8();
        publish();
    }, Qt::QueuedConnection);
    connect(&server_, &openrgb::SdkServer::modeRequested, this,
            [this](int index, const openrgb::Mode &mode, bool) { modeRequested(index, mode); });
    connect(&server_, &openrgb::SdkServer::customModeRequested, this,
            [this] { modeRequested(openrgbcard::kDirectMode, {}); });
    connect(&server_, &openrgb::SdkServer::ledColoursRequested, this, &OpenRgbBridge::ledColoursRequested);
}

void OpenRgbBridge::choicesSaved(int function, const QVariantMap &choices)
{
    choices_ = choices;
    if (function == Request::ArgbControl || function == Request::ArgbSwitch) {
        inFlight_ = false;
        if (choices_.value(Key::ArgbEffect).toInt() != Effect::Static)
            direct_ = false;
    }
    if (function == Reply::StartUp || function == Request::OpenRgbServer)
        applyServerChoice();
    publish();
    pump();
}

void OpenRgbBridge::applyServerChoice()
{
    const bool wanted = choices_.value(Key::OpenRgbServer).toBool();
    const quint16 port = choices_.contains(Key::OpenRgbPort)
        ? quint16(choices_.value(Key::OpenRgbPort).toInt())
        : openrgbcard::kDefaultPort;
    if (!wanted) {
        if (server_.isListening())
            qDebug().noquote() << "OpenRGB SDK server stopped";
        else
            qDebug().noquote() << "OpenRGB SDK server is off";
        server_.close();
        pending_.reset();
        setStatus(QString());
        return;
    }
    if (server_.isListening() && port == port_)
        return;
    port_ = port;
    if (server_.listen(port)) {
        qDebug().noquote() << "OpenRGB SDK server listening on 127.0.0.1 and ::1, port" << port;
        setStatus(tr("Port %1").arg(port));
        // Asked once, when a client may first want it.
        if (!firmwareAsked_) {
            firmwareAsked_ = true;
            worker_->receiveDataFromQML(QVariantMap{{Key::Function, int(Request::ReadFirmwareVersion)}});
        }
    } else {
        qWarning().noquote() << "OpenRGB SDK server cannot listen on port" << port << "-"
                             << server_.errorString();
        setStatus(tr("Port %1 is in use").arg(port));
    }
}

void OpenRgbBridge::modeRequested(int index, const openrgb::Mode &mode)
{
    if (choices_.value(Key::RGBControlMode).toString() == Value::Mb) {
        qDebug().noquote() << "OpenRGB SDK: the lighting is handed to the motherboard; change ignored";
        return;
    }
    const auto request = openrgbcard::requestFor(index, mode, choices_);
    if (request)
        direct_ = index == openrgbcard::kDirectMode;
    submit(request);
}

void OpenRgbBridge::ledColoursRequested(const QVector<openrgb::Colour> &colours)
{
    // LED colours show only in Direct; in an effect the card keeps its own.
    if (!direct_ || colours.isEmpty() || choices_.value(Key::RGBControlMode).toString() == Value::Mb)
        return;
    openrgb::Mode mode;
    mode.colours << colours.first();
    auto request = openrgbcard::requestFor(1, mode, choices_);
    submit(request);
}

void OpenRgbBridge::submit(const std::optional<QVariantMap> &request)
{
    if (!request)
        return;
    pending_ = request;
    pump();
}

void OpenRgbBridge::pump()
{
    if (inFlight_ || !pending_)
        return;
    const QVariantMap request = *pending_;
    pending_.reset();
    const QVariantMap after = openrgbcard::choicesAfter(choices_, request);
    // Effect engines send the same colour over and over: what the card
    // already shows is not sent again.
    if (sameLighting(after, choices_)) {
        publish();
        return;
    }
    inFlight_ = true;
    worker_->receiveDataFromQML(request);
    emit lightingChanged(after);
}

void OpenRgbBridge::publish()
{
    server_.setController(openrgbcard::controller(choices_, direct_, name_, firmware_));
}

void OpenRgbBridge::setStatus(const QString &text)
{
    if (text == status_)
        return;
    status_ = text;
    emit statusChanged();
}
