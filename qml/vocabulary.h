#pragma once
// The worker's codes and tables as the QML module "Tarvell.Protocol 1.0":
// Request, Reply, FanPreset and Effect carry the enums of worker/protocol.h,
// and the singleton Tables the speed bytes, the preset duties, the effects'
// names and the fan curve's limits (mcu/fan_curve.h). Called before the
// first engine loads anything; calling it again does nothing.

void registerProtocolModule();
