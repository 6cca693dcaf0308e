#include "mcu/fan_curve.h"

#include <algorithm>
#include <cmath>

namespace mcu {

FanCurve defaultFanCurve()
{
    return {{35, 25}, {50, 30}, {65, 45}, {75, 65}, {85, 100}};
}

QString curveProblem(const FanCurve &curve)
{
    using namespace curve_rules;
    if (int(curve.size()) < kMinPoints || int(curve.size()) > kMaxPoints)
        return QStringLiteral("a curve has %1 to %2 points, this one %3")
            .arg(kMinPoints)
            .arg(kMaxPoints)
            .arg(curve.size());
    for (std::size_t i = 0; i < curve.size(); ++i) {
        const CurvePoint &p = curve[i];
        if (p.tempC < kMinTempC || p.tempC > kMaxTempC)
            return QStringLiteral("point %1: %2 degC is outside %3..%4")
                .arg(i + 1).arg(p.tempC).arg(kMinTempC).arg(kMaxTempC);
        if (p.duty < kMinDuty || p.duty > kMaxDuty)
            return QStringLiteral("point %1: duty %2 is outside %3..%4")
                .arg(i + 1).arg(p.duty).arg(kMinDuty).arg(kMaxDuty);
        if (p.duty < kQuietDuty && p.tempC > kQuietUpToC)
            return QStringLiteral("point %1: a duty below %2 % is allowed only up to %3 degC")
                .arg(i + 1).arg(kQuietDuty).arg(kQuietUpToC);
        if (i == 0)
            continue;
        const CurvePoint &before = curve[i - 1];
        if (p.tempC - before.tempC < kMinGapC)
            return QStringLiteral("point %1: temperatures must rise by at least %2 degC")
                .arg(i + 1).arg(kMinGapC);
        if (p.duty < before.duty)
            return QStringLiteral("point %1: the duty falls").arg(i + 1);
    }
    return {};
}

namespace {
// A whole number inside the int range, given as a JSON number or text.
std::optional<int> wholeNumber(const QVariant &v)
{
    bool ok = false;
    const double d = v.userType() == QMetaType::QString ? v.toString().toDouble(&ok)
                     : v.canConvert<double>() && v.userType() != QMetaType::Bool ? v.toDouble(&ok)
                                                                            : 0.0;
    if (!ok || !std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1e6)
        return std::nullopt;
    return int(d);
}
} // namespace

FanCurve curveFromVariant(const QVariant &value)
{
    if (!value.canConvert<QVariantList>() || value.userType() == QMetaType::QString)
        return {};
    FanCurve curve;
    for (const QVariant &element : value.toList()) {
        const QVariantList pair = element.toList();
        if (pair.size() != 2 || element.userType() == QMetaType::QString)
            return {};
        const std::optional<int> t = wholeNumber(pair[0]);
        const std::optional<int> d = wholeNumber(pair[1]);
        if (!t || !d)
            return {};
        curve.push_back({*t, *d});
    }
    return curve;
}

QVariantList curveToVariant(const FanCurve &curve)
{
    QVariantList out;
    for (const CurvePoint &p : curve)
        out.append(QVariant(QVariantList{p.tempC, p.duty}));
    return out;
}

int curveDuty(const FanCurve &curve, double tempC)
{
    // Points that keep the quiet rule may still interpolate below it between
    // them; the rule holds for every temperature, not just the points.
    const int floor = tempC > curve_rules::kQuietUpToC ? curve_rules::kQuietDuty : curve_rules::kMinDuty;
    return std::max(floor, pointsDuty(curve, tempC));
}

int pointsDuty(const FanCurve &curve, double tempC)
{
    if (curve.empty())
        return curve_rules::kMaxDuty;
    if (tempC <= curve.front().tempC)
        return curve.front().duty;
    if (tempC >= curve.back().tempC)
        return curve.back().duty;
    for (std::size_t i = 1; i < curve.size(); ++i) {
        const CurvePoint &a = curve[i - 1];
        const CurvePoint &b = curve[i];
        if (tempC <= b.tempC) {
            const double f = (tempC - a.tempC) / double(b.tempC - a.tempC);
            return int(std::lround(a.duty + f * (b.duty - a.duty)));
        }
    }
    return curve.back().duty;
}

FanCurveController::FanCurveController(FanCurve curve, Clock clock, Source source)
    : curve_(std::move(curve)), clock_(std::move(clock)), source_(std::move(source))
{
    lastReadingMs_ = clock_();
}

FanCurveController::Action FanCurveController::step()
{
    const qint64 now = clock_();
    const std::optional<Reading> reading = source_();
    if (!reading) {
        // Without a temperature the curve is blind: the GPU's own control
        // knows its temperature, so it gets the fan back.
        if (withMcu_ && now - lastReadingMs_ >= kSensorLossMs) {
            withMcu_ = false;
            duty_ = -1;
            coolSinceMs_.reset();
            return {Action::GiveBackToGpu, -1, false};
        }
        return {};
    }
    lastReadingMs_ = now;
    const double t = reading->tempC;
    const int target = t >= fullSpeedFromC(reading->criticalC) ? curve_rules::kMaxDuty : curveDuty(curve_, t);

    if (!withMcu_ || duty_ < 0 || target > duty_) {
        const bool needsSwitch = !withMcu_;
        coolSinceMs_.reset();
        if (withMcu_ && target == duty_)
            return {};
        duty_ = target;
        withMcu_ = true;
        anchorC_ = t;
        return {Action::SetDuty, target, needsSwitch};
    }
    if (target == duty_) {
        coolSinceMs_.reset();
        return {};
    }
    // Lower duty: only once it has been clearly cooler for a while, so a fan
    // does not surge with every small swing of the temperature.
    if (t > anchorC_ - kFallBandC) {
        coolSinceMs_.reset();
        return {};
    }
    if (!coolSinceMs_)
        coolSinceMs_ = now;
    if (now - *coolSinceMs_ < kFallHoldMs)
        return {};
    coolSinceMs_.reset();
    duty_ = target;
    // The next step down is measured from here, so a slow cooling lowers the
    // fan in steps of the band, not with every degree.
    anchorC_ = t;
    return {Action::SetDuty, target, false};
}

void FanCurveController::writeFailed()
{
    // Unknown what the card runs now: start over, switch included.
    withMcu_ = false;
    duty_ = -1;
    coolSinceMs_.reset();
}

void FanCurveController::fanGivenBack()
{
    withMcu_ = false;
    duty_ = -1;
    coolSinceMs_.reset();
    lastReadingMs_ = clock_();
}

} // namespace mcu
