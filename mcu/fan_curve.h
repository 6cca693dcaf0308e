#pragma once
// A temperature fan curve run through the card's microcontroller: which duty
// the fan should have at a temperature, and when that duty is worth a write.
//
// The controller is pure logic. It asks its clock for the time and its source
// for the temperature, and answers with what the caller should send to the
// card; the caller does the I/O and tells the controller what happened.

#include <QString>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

namespace mcu {

struct CurvePoint {
    int tempC = 0;
    int duty = 0; // percent
    bool operator==(const CurvePoint &o) const { return tempC == o.tempC && duty == o.duty; }
};
using FanCurve = std::vector<CurvePoint>;

namespace curve_rules {
constexpr int kMinPoints = 2;
constexpr int kMaxPoints = 8;
constexpr int kMinTempC = 20;
constexpr int kMaxTempC = 100;
constexpr int kMinGapC = 1;
constexpr int kMinDuty = 0;   // percent
constexpr int kMaxDuty = 100;
// Below this duty the card is quiet enough for a desktop, too quiet for a load.
constexpr int kQuietDuty = 30;
constexpr int kQuietUpToC = 50;
}

// The curve a new user gets, and what a broken one is replaced by.
FanCurve defaultFanCurve();

// Empty when the curve may run, else why not, in words for a log.
QString curveProblem(const FanCurve &curve);

// [[degC, %], ...] as the settings file and the scene carry it. A value that
// is not such a list gives an empty curve (which curveProblem refuses).
FanCurve curveFromVariant(const QVariant &value);
QVariantList curveToVariant(const FanCurve &curve);

// Linear between the two points around the temperature, rounded to a whole
// percent; the end points' duties beyond the ends.
// Never below the quiet duty above the quiet temperature.
int curveDuty(const FanCurve &curve, double tempC);
// The interpolation alone.
int pointsDuty(const FanCurve &curve, double tempC);

class FanCurveController {
public:
    using Clock = std::function<qint64()>; // monotonic milliseconds
    struct Reading {
        double tempC = 0.0;
        // The sensor's own critical limit, when it reports one.
        std::optional<double> criticalC;
    };
    // Nothing when no temperature can be had right now.
    using Source = std::function<std::optional<Reading>()>;

    static constexpr double kHotC = 90.0;
    static constexpr double kFallBandC = 3.0;
    static constexpr qint64 kFallHoldMs = 10000;
    static constexpr qint64 kSensorLossMs = 6000;
    // Where the curve gives way to full speed.
    static double fullSpeedFromC(const std::optional<double> &criticalC)
    {
        return criticalC ? std::min(kHotC, *criticalC) : kHotC;
    }

    struct Action {
        enum Kind { Nothing, SetDuty, GiveBackToGpu } kind = Nothing;
        int duty = -1;
        // The fan is still with the GPU: the switch goes before the duty.
        bool switchToMcu = false;
        bool operator==(const Action &o) const
        {
            return kind == o.kind && duty == o.duty && switchToMcu == o.switchToMcu;
        }
    };

    FanCurveController(FanCurve curve, Clock clock, Source source);

    // Reads the temperature once and decides. The caller performs the action
    // and reports a failed write with writeFailed().
    Action step();

    // The card did not take the last write: the next step tries again.
    void writeFailed();
    // Somebody else gave the fan back to the GPU (exit, suspend, another
    // choice): the next step starts over with the switch.
    void fanGivenBack();

    int duty() const { return duty_; } // -1 while the GPU has the fan
    bool fanWithMcu() const { return withMcu_; }
    const FanCurve &curve() const { return curve_; }

private:
    FanCurve curve_;
    Clock clock_;
    Source source_;
    int duty_ = -1;
    bool withMcu_ = false;
    double anchorC_ = 0.0;  // where the duty last rose (or last fell)
    std::optional<qint64> coolSinceMs_;
    qint64 lastReadingMs_ = 0;
};

} // namespace mcu
