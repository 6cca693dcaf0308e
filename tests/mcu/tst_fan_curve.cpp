// The fan curve controller against a fake clock and fake temperatures: what it
// tells the caller to send at each step, and which curves it accepts.

#include "mcu/fan_curve.h"

#include <QtTest>

#include <cmath>

using mcu::FanCurve;
using mcu::FanCurveController;
using Action = FanCurveController::Action;

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

struct Step {
    qint64 atMs;
    double tempC;     // kNone: the sensor gives nothing
    double criticalC; // kNone: no limit reported
    Action expected;
};
using Script = QVector<Step>;

const Action nothing{};
Action up(int duty, bool withSwitch = false) { return {Action::SetDuty, duty, withSwitch}; }
Action down(int duty) { return {Action::SetDuty, duty, false}; }
const Action giveBack{Action::GiveBackToGpu, -1, false};

// 25 % to 35 degC, 30 % at 50, 45 % at 65, 65 % at 75, 100 % from 85.
const FanCurve kCurve = mcu::defaultFanCurve();

QString describe(const Action &a)
{
    return a.kind == Action::Nothing ? "nothing" : a.kind == Action::GiveBackToGpu ? "give back"
         : QStringLiteral("duty %1%2").arg(a.duty).arg(a.switchToMcu ? " after switch" : "");
}

} // namespace

Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(FanCurve)

class FanCurveTest : public QObject {
    Q_OBJECT

private slots:
    void steps_data()
    {
        QTest::addColumn<Script>("script");
        // 40 degC -> 27 %, 70 -> 55 %, 45 -> 28 %, 67 -> 49 %.
        QTest::newRow("first reading switches, then writes the duty")
            << Script{{0, 40, kNone, up(27, true)}, {2000, 40, kNone, nothing}};
        QTest::newRow("a rise is sent at once, each duty once")
            << Script{{0, 40, kNone, up(27, true)}, {2000, 70, kNone, up(55)},
                      {4000, 70.2, kNone, nothing}, {6000, 70, kNone, nothing}};
        QTest::newRow("a fall inside the dead band sends nothing")
            << Script{{0, 70, kNone, up(55, true)}, {2000, 68, kNone, nothing},
                      {20000, 67.5, kNone, nothing}, {40000, 67.1, kNone, nothing}};
        QTest::newRow("a fall outside the band waits 10 s, then sends the curve's duty")
            << Script{{0, 40, kNone, up(27, true)}, {2000, 70, kNone, up(55)},
                      {4000, 45, kNone, nothing}, {13999, 45, kNone, nothing},
                      {14000, 45, kNone, down(28)}, {16000, 45, kNone, nothing}};
        QTest::newRow("warming into the band again restarts the 10 s hold")
            << Script{{0, 70, kNone, up(55, true)}, {2000, 60, kNone, nothing},
                      {8000, 68, kNone, nothing}, {10000, 60, kNone, nothing},
                      {19999, 60, kNone, nothing}, {20000, 60, kNone, down(40)}};
        QTest::newRow("after a fall the next one is measured from where it fell")
            << Script{{0, 70, kNone, up(55, true)}, {1000, 60, kNone, nothing},
                      {11000, 60, kNone, down(40)}, {13000, 58, kNone, nothing},
                      {30000, 58, kNone, nothing}, {31000, 56.9, kNone, nothing},
                      {41000, 56.9, kNone, down(37)}};
        QTest::newRow("a rise during the hold is sent at once and ends the hold")
            << Script{{0, 70, kNone, up(55, true)}, {1000, 60, kNone, nothing},
                      {5000, 75, kNone, up(65)}, {12000, 70, kNone, nothing}};
        QTest::newRow("no reading for 6 s gives the fan back, once; a reading takes it again")
            << Script{{0, 40, kNone, up(27, true)}, {2000, kNone, kNone, nothing},
                      {5999, kNone, kNone, nothing}, {6000, kNone, kNone, giveBack},
                      {8000, kNone, kNone, nothing}, {10000, 40, kNone, up(27, true)}};
        QTest::newRow("a lost sensor before any write leaves the GPU alone")
            << Script{{0, kNone, kNone, nothing}, {7000, kNone, kNone, nothing},
                      {9000, 50, kNone, up(30, true)}};
        QTest::newRow("90 degC is full speed whatever the curve or a higher limit says")
            << Script{{0, 60, 95, up(40, true)}, {2000, 90, 95, up(100)},
                      {4000, 89.5, kNone, nothing}};
        QTest::newRow("a lower critical limit of the sensor counts as hot")
            << Script{{0, 60, 80, up(40, true)}, {2000, 70, 80, up(55)}, {4000, 80, 80, up(100)}};
        QTest::newRow("cooling from the critical duty follows the fall rules")
            << Script{{0, 91, kNone, up(100, true)}, {2000, 89, kNone, nothing},
                      {4000, 80, kNone, nothing}, {13999, 80, kNone, nothing},
                      {14000, 80, kNone, down(83)}};
    }
    void steps()
    {
        QFETCH(Script, script);
        qint64 now = 0;
        double temp = kNone, critical = kNone;
        FanCurveController controller(
            kCurve, [&] { return now; },
            [&]() -> std::optional<FanCurveController::Reading> {
                if (std::isnan(temp))
                    return std::nullopt;
                FanCurveController::Reading r{temp, {}};
                if (!std::isnan(critical))
                    r.criticalC = critical;
                return r;
            });
        for (int i = 0; i < script.size(); ++i) {
            now = script[i].atMs;
            temp = script[i].tempC;
            critical = script[i].criticalC;
            const Action got = controller.step();
            QVERIFY2(got == script[i].expected,
                     qPrintable(QStringLiteral("step %1 at %2 ms: got %3, expected %4")
                                    .arg(i).arg(now).arg(describe(got), describe(script[i].expected))));
        }
    }

    // A write the card refused is tried again, switch included; a fan given
    // back by somebody else is taken again on the next reading.
    void failedWriteAndGiveBackStartOver()
    {
        qint64 now = 0;
        FanCurveController controller(kCurve, [&] { return now; },
                                      [] { return FanCurveController::Reading{70, {}}; });
        QVERIFY(controller.step() == up(55, true));
        controller.writeFailed();
        now = 2000;
        QVERIFY(controller.step() == up(55, true));
        controller.fanGivenBack();
        QCOMPARE(controller.duty(), -1);
        now = 4000;
        QVERIFY(controller.step() == up(55, true));
        QCOMPARE(controller.duty(), 55);
    }

    void interpolation_data()
    {
        QTest::addColumn<FanCurve>("curve");
        QTest::addColumn<double>("tempC");
        QTest::addColumn<int>("duty");
        QTest::newRow("below the first point") << kCurve << 20.0 << 25;
        QTest::newRow("on a point") << kCurve << 65.0 << 45;
        QTest::newRow("between, rounded down") << kCurve << 51.0 << 31;
        QTest::newRow("between, half rounds up") << kCurve << 68.75 << 53; // 52.5
        QTest::newRow("above the last point") << kCurve << 99.0 << 100;
        // Points that keep the rule can still interpolate below it.
        const FanCurve quiet{{20, 0}, {50, 29}, {100, 30}};
        QTest::newRow("quiet at 50 degC") << quiet << 50.0 << 29;
        QTest::newRow("never below 30 % above 50 degC") << quiet << 60.0 << 30;
    }
    void interpolation()
    {
        QFETCH(FanCurve, curve);
        QFETCH(double, tempC);
        QFETCH(int, duty);
        QCOMPARE(mcu::curveDuty(curve, tempC), duty);
    }

    void validation_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("accepted");
        auto list = [](std::initializer_list<std::pair<QVariant, QVariant>> points) {
            QVariantList l;
            for (const auto &p : points)
                l.append(QVariant(QVariantList{p.first, p.second}));
            return QVariant(l);
        };
        QTest::newRow("default") << QVariant(mcu::curveToVariant(kCurve)) << true;
        QTest::newRow("two points at the ends") << list({{20, 0}, {100, 100}}) << true;
        QTest::newRow("quiet up to 50") << list({{20, 0}, {50, 29}, {100, 100}}) << true;
        QTest::newRow("quiet above 50") << list({{20, 0}, {51, 29}, {100, 100}}) << false;
        QTest::newRow("one point") << list({{50, 50}}) << false;
        QTest::newRow("nine points") << list({{20, 30}, {30, 30}, {40, 30}, {50, 30}, {60, 30}, {70, 30},
                                              {80, 30}, {90, 30}, {100, 30}}) << false;
        QTest::newRow("same temperature twice") << list({{40, 30}, {40, 40}}) << false;
        QTest::newRow("1 degC apart") << list({{40, 30}, {41, 40}}) << true;
        QTest::newRow("falling duty") << list({{40, 50}, {60, 40}}) << false;
        QTest::newRow("below 20 degC") << list({{19, 30}, {60, 40}}) << false;
        QTest::newRow("above 100 degC") << list({{40, 30}, {101, 100}}) << false;
        QTest::newRow("duty above 100") << list({{40, 30}, {60, 101}}) << false;
        QTest::newRow("fraction") << list({{40.5, 30}, {60, 40}}) << false;
        QTest::newRow("numbers as text") << list({{"40", "30"}, {"60", "40"}}) << true;
        QTest::newRow("not a list") << QVariant(QStringLiteral("[[40,30],[60,40]]")) << false;
        QTest::newRow("three numbers a point") << QVariant(QVariantList{QVariantList{40, 30, 1}, QVariantList{60, 40}}) << false;
    }
    void validation()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, accepted);
        const QString problem = mcu::curveProblem(mcu::curveFromVariant(value));
        QVERIFY2(problem.isEmpty() == accepted, qPrintable(problem));
    }
};

QTEST_APPLESS_MAIN(FanCurveTest)
#include "tst_fan_curve.moc"
