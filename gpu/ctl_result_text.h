#pragma once
// Readable names of the control library's result codes, for diagnostics.

#include "gpu/ctl_api.h"

#include <QString>

// "[Unknown Error]" for any code without a name, including the binding's own
// out-of-memory and load-failure codes.
QString CtlResultToString(ctl_result_t code);
