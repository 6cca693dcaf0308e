#pragma once
// The known card is defined beside the I2C backend, which must refuse every
// other board, and is used from here by the telemetry and the worker.
#include "platform/known_card.h"
