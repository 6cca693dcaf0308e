#include "qml/vocabulary.h"

#include "mcu/fan_curve.h"
#include "worker/protocol.h"

#include <QJSEngine>
#include <QJSValue>
#include <QQmlEngine>

namespace {

QJSValue tables(QQmlEngine *, QJSEngine *js)
{
    QJSValue speedBytes = js->newObject();
    for (int position = Speed::kSlowest; position <= Speed::kFastest; ++position)
        speedBytes.setProperty(quint32(position), Speed::byteOf(position));
    QJSValue duties = js->newArray(FanPreset::kCount);
    for (int index = 0; index < FanPreset::kCount; ++index)
        duties.setProperty(quint32(index), FanPreset::kDuty[index]);

    QJSValue looks = js->newObject();
    for (int code = Effect::kFirst; code <= Effect::kLast; ++code) {
        QJSValue look = js->newObject();
        look.setProperty(QStringLiteral("name"), QString::fromLatin1(Effect::lookOf(code).name));
        look.setProperty(QStringLiteral("usesColour"), Effect::lookOf(code).usesColour);
        looks.setProperty(quint32(code), look);
    }
    const mcu::FanCurve curve = mcu::defaultFanCurve();
    QJSValue defaultCurve = js->newArray(uint(curve.size()));
    for (std::size_t i = 0; i < curve.size(); ++i) {
        QJSValue point = js->newArray(2);
        point.setProperty(0, curve[i].tempC);
        point.setProperty(1, curve[i].duty);
        defaultCurve.setProperty(quint32(i), point);
    }

    QJSValue t = js->newObject();
    t.setProperty(QStringLiteral("slowestSpeed"), Speed::kSlowest);
    t.setProperty(QStringLiteral("fastestSpeed"), Speed::kFastest);
    t.setProperty(QStringLiteral("defaultSpeed"), Speed::kDefault);
    t.setProperty(QStringLiteral("speedBytes"), speedBytes);
    t.setProperty(QStringLiteral("presetDuties"), duties);
    t.setProperty(QStringLiteral("defaultEffect"), Effect::kDefault);
    t.setProperty(QStringLiteral("effectLooks"), looks);
    using namespace mcu::curve_rules;
    t.setProperty(QStringLiteral("curveMinTemp"), kMinTempC);
    t.setProperty(QStringLiteral("curveMaxTemp"), kMaxTempC);
    t.setProperty(QStringLiteral("curveMinGap"), kMinGapC);
    t.setProperty(QStringLiteral("curveMinDuty"), kMinDuty);
    t.setProperty(QStringLiteral("curveMaxDuty"), kMaxDuty);
    t.setProperty(QStringLiteral("curveMinPoints"), kMinPoints);
    t.setProperty(QStringLiteral("curveMaxPoints"), kMaxPoints);
    t.setProperty(QStringLiteral("quietDuty"), kQuietDuty);
    t.setProperty(QStringLiteral("quietUpTo"), kQuietUpToC);
    t.setProperty(QStringLiteral("defaultCurve"), defaultCurve);
    return t;
}

} // namespace

void registerProtocolModule()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    const char uri[] = "Tarvell.Protocol";
    const QString why = QStringLiteral("codes only");
    qmlRegisterUncreatableMetaObject(Request::staticMetaObject, uri, 1, 0, "Request", why);
    qmlRegisterUncreatableMetaObject(Reply::staticMetaObject, uri, 1, 0, "Reply", why);
    qmlRegisterUncreatableMetaObject(FanPreset::staticMetaObject, uri, 1, 0, "FanPreset", why);
    qmlRegisterUncreatableMetaObject(Effect::staticMetaObject, uri, 1, 0, "Effect", why);
    qmlRegisterSingletonType(uri, 1, 0, "Tables", tables);
}
