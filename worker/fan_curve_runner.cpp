// The worker's side of the fan curve: where its temperatures come from, when
// it runs, and the card operations its decisions become. The decisions
// themselves belong to mcu::FanCurveController.

#include "worker/gpu_worker.h"

#include "mcu/card_mcu.h"
#include "worker/protocol.h"

#include <QDebug>

#include <algorithm>

namespace {

using mcu::kSwitchCommands;
using mcu::kFanCommands;
using mcu::kAfterFanSwitchMs;

// Hidden or on a page without telemetry, the curve reads the card this often;
// on the Monitor page every monitoring pass feeds it.
constexpr qint64 kCurveIntervalMs = 2000;
constexpr double kHighestPlausibleC = 200.0;

// A temperature read in this refresh: the refresh writes doubles, and leaves
// an int 0 or no value for what it could not read.
std::optional<double> freshTemperature(const QVariantMap &facts, const QString &key)
{
    const QVariant v = facts.value(key);
    if (v.userType() != QMetaType::Double)
        return std::nullopt;
    const double c = v.toDouble();
    if (!(c > 0.0 && c < kHighestPlausibleC))
        return std::nullopt;
    return c;
}

QString curveText(const mcu::FanCurve &curve)
{
    QStringList points;
    for (const mcu::CurvePoint &p : curve)
        points << QStringLiteral("%1 degC %2 %").arg(p.tempC).arg(p.duty);
    return points.join(QStringLiteral(", "));
}

} // namespace

void GPU_WORKER::prepareForSleep(std::function<void()> done)
{
    {
        std::lock_guard<std::mutex> lock(sleepMutex);
        if (sleepDone)
            sleepDone(); // an earlier one nobody served: let it go
        sleepDone = std::move(done);
    }
    sleepRequested = true;
    ops.pacer->wake();
}

void GPU_WORKER::serveSleepRequest()
{
    if (!sleepRequested.exchange(false))
        return;
    std::function<void()> done;
    {
        std::lock_guard<std::mutex> lock(sleepMutex);
        done = std::move(sleepDone);
        sleepDone = nullptr;
    }
    if (fanCurve) {
        if (fanCurve->fanWithMcu())
            giveFanBackFromCurve("the machine goes to sleep");
        curvePaused = true;
        publishCurveDuty();
    }
    if (done)
        done();
}

void GPU_WORKER::startFanCurve(const mcu::FanCurve &curve)
{
    fanCurve = std::make_unique<mcu::FanCurveController>(
        curve, [this] { return ops.pacer->nowMs(); }, [this] { return curveReading; });
    curvePaused = false;
    curveDueMs = 0;
    curveLimitsRead = false;
    qInfo().noquote() << "Fan curve runs:" << curveText(curve);
}

void GPU_WORKER::stopFanCurve()
{
    if (!fanCurve)
        return;
    fanCurve.reset();
    if (ops.fanGuard)
        ops.fanGuard->setArmed(false);
    publishCurveDuty();
}

bool GPU_WORKER::curveDue() const
{
    return fanCurve && !curvePaused && ops.pacer->nowMs() >= curveDueMs;
}

void GPU_WORKER::readCurveTemperature()
{
    curveReading.reset();
    if (lastCardCount <= 0)
        return;
    const std::optional<double> gpu = freshTemperature(MonitorInfoDict, QStringLiteral("GpuCurrentTemperature"));
    const std::optional<double> vram = freshTemperature(MonitorInfoDict, QStringLiteral("VRAM_Temperature"));
    if (gpu || vram)
        curveReading = mcu::FanCurveController::Reading{std::max(gpu.value_or(0.0), vram.value_or(0.0)), {}};
}

void GPU_WORKER::stepFanCurve(bool fresh)
{
    if (!fanCurve || curvePaused)
        return;
    // The sensors' own limits come with the cheap read alone. They stay as
    // they are while the card is there: read once for each start of the curve.
    std::optional<worker::GpuBackend::Temperature> cheap;
    if (!fresh || !curveLimitsRead) {
        cheap = ops.gpu->hottestTemperature(!curveLimitsRead);
        if (cheap && !curveLimitsRead) {
            qInfo().noquote() << "Fan curve: full speed from"
                              << mcu::FanCurveController::fullSpeedFromC(cheap->criticalC) << "degC";
            curveCriticalC = cheap->criticalC;
            curveLimitsRead = true;
        }
    }
    if (fresh) {
        readCurveTemperature();
    } else {
        // Between monitoring passes only the temperatures are read: the full
        // telemetry every 2 s would cost the tray program many times more.
        curveReading.reset();
        if (cheap)
            curveReading = mcu::FanCurveController::Reading{cheap->hottestC, {}};
    }
    if (curveReading)
        curveReading->criticalC = curveCriticalC;
    applyCurveAction(fanCurve->step());
    curveDueMs = ops.pacer->nowMs() + kCurveIntervalMs;
    publishCurveDuty();
}

void GPU_WORKER::applyCurveAction(const mcu::FanCurveController::Action &action)
{
    using Action = mcu::FanCurveController::Action;
    if (action.kind == Action::GiveBackToGpu) {
        giveFanBackFromCurve("no temperature for 6 s");
        return;
    }
    if (action.kind != Action::SetDuty)
        return;
    if (action.switchToMcu) {
        // Armed before the switch: from its first byte on the fan may be the
        // card's.
        if (ops.fanGuard)
            ops.fanGuard->setArmed(true);
        const int r = I2C_Switch_GPU_MCU_Control(0);
        lastCurveSwitchResult = r;
        if (r != kSwitchCommands) {
            qWarning().noquote() << "Fan curve: the card did not take the fan (" << r << ")";
            curveWriteFailed = true;
            fanCurve->writeFailed();
            return;
        }
        sleepMs(kAfterFanSwitchMs);
    }
    const int r = I2C_Fan_Control(action.duty);
    curveWriteFailed = r != kFanCommands;
    if (curveWriteFailed) {
        qWarning().noquote() << "Fan curve: the card did not take duty" << action.duty;
        fanCurve->writeFailed();
        return;
    }
    qInfo().noquote() << QStringLiteral("Fan curve: %1 degC -> %2 %")
                             .arg(curveReading ? curveReading->tempC : 0.0, 0, 'f', 1)
                             .arg(action.duty);
}

void GPU_WORKER::giveFanBackFromCurve(const char *why)
{
    const int r = I2C_Switch_GPU_MCU_Control(1);
    if (fanCurve)
        fanCurve->fanGivenBack();
    if (r == kSwitchCommands) {
        qInfo().noquote() << "Fan curve:" << why << "- fan back to the GPU";
        if (ops.fanGuard)
            ops.fanGuard->setArmed(false);
    } else {
        // The guardian stays armed and tries again when the program ends.
        qWarning().noquote() << "Fan curve:" << why << "- the card did not take the switch to the GPU (" << r << ")";
    }
}

void GPU_WORKER::fanCurveRequest(const QVariantMap &request)
{
    const mcu::FanCurve curve = mcu::curveFromVariant(request.value(Key::FanCurve));
    const QString problem = mcu::curveProblem(curve);
    dictDataToQML[Key::Function] = int(Reply::FanCurve);
    if (!problem.isEmpty()) {
        qWarning().noquote() << "Fan curve refused:" << problem;
        dictDataToQML[Key::ResultCheck] = 1;
        emitReply();
        return;
    }
    userControlData[Key::FanControlMode] = QString(Value::Curve);
    userControlData[Key::FanCurve] = mcu::curveToVariant(curve);
    userControlData[Key::FanControlBtn] = int(FanPreset::Custom);
    curveWriteFailed = false;
    startFanCurve(curve);
    stepFanCurve(false);
    dictDataToQML[Key::Function] = int(Reply::FanCurve);
    dictDataToQML[Key::ResultCheck] = curveWriteFailed ? 1 : 0;
    dictDataToQML[Key::FanCurveDuty] = MonitorInfoDict.value(Key::FanCurveDuty);
    emitReply();
}

void GPU_WORKER::publishCurveDuty()
{
    MonitorInfoDict[Key::FanCurveDuty] =
        fanCurve && !curvePaused && fanCurve->fanWithMcu() ? fanCurve->duty() : -1;
}
