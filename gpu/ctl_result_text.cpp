#include "gpu/ctl_result_text.h"

#include <QHash>

namespace {

const QHash<ctl_result_t, QString> &resultNames()
{
    // Built once, on first use; the language makes that first use safe
    // against a concurrent one.
    static const QHash<ctl_result_t, QString> names{
        {0x00000000u, QStringLiteral("[CTL_RESULT_SUCCESS]")},
        {0x40000000u, QStringLiteral("[CTL_RESULT_ERROR_GENERIC_START]")},
        {0x40000001u, QStringLiteral("[CTL_RESULT_ERROR_NOT_INITIALIZED]")},
        {0x40000002u, QStringLiteral("[CTL_RESULT_ERROR_ALREADY_INITIALIZED]")},
        {0x40000003u, QStringLiteral("[CTL_RESULT_ERROR_DEVICE_LOST]")},
        {0x40000006u, QStringLiteral("[CTL_RESULT_ERROR_INSUFFICIENT_PERMISSIONS]")},
        {0x40000007u, QStringLiteral("[CTL_RESULT_ERROR_NOT_AVAILABLE]")},
        {0x40000008u, QStringLiteral("[CTL_RESULT_ERROR_UNINITIALIZED]")},
        {0x40000009u, QStringLiteral("[CTL_RESULT_ERROR_UNSUPPORTED_VERSION]")},
        {0x4000000Au, QStringLiteral("[CTL_RESULT_ERROR_UNSUPPORTED_FEATURE]")},
        {0x4000000Bu, QStringLiteral("[CTL_RESULT_ERROR_INVALID_ARGUMENT]")},
        {0x4000000Du, QStringLiteral("[CTL_RESULT_ERROR_INVALID_NULL_HANDLE]")},
        {0x4000000Eu, QStringLiteral("[CTL_RESULT_ERROR_INVALID_NULL_POINTER]")},
        {0x4000000Fu, QStringLiteral("[CTL_RESULT_ERROR_INVALID_SIZE]")},
        {0x40000010u, QStringLiteral("[CTL_RESULT_ERROR_UNSUPPORTED_SIZE]")},
        {0x40000012u, QStringLiteral("[CTL_RESULT_ERROR_DATA_READ]")},
        {0x40000013u, QStringLiteral("[CTL_RESULT_ERROR_DATA_WRITE]")},
        {0x40000015u, QStringLiteral("[CTL_RESULT_ERROR_NOT_IMPLEMENTED]")},
        {0x40000019u, QStringLiteral("[CTL_RESULT_ERROR_ZE_LOADER]")},
        {0x4000001Au, QStringLiteral("[CTL_RESULT_ERROR_INVALID_OPERATION_TYPE]")},
        {0x4000FFFFu, QStringLiteral("[CTL_RESULT_ERROR_UNKNOWN]")},
        {0x44000001u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_NOT_SUPPORTED]")},
        {0x44000002u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_VOLTAGE_OUTSIDE_RANGE]")},
        {0x44000003u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_FREQUENCY_OUTSIDE_RANGE]")},
        {0x44000004u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_POWER_OUTSIDE_RANGE]")},
        {0x44000005u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_TEMPERATURE_OUTSIDE_RANGE]")},
        {0x44000006u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_IN_VOLTAGE_LOCKED_MODE]")},
        {0x44000007u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_RESET_REQUIRED]")},
        {0x44000008u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_WAIVER_NOT_SET]")},
        {0x44000009u, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_DEPRECATED_API]")},
        {0x4400000Eu, QStringLiteral("[CTL_RESULT_ERROR_CORE_OVERCLOCK_INVALID_CUSTOM_VF_CURVE]")},
    };
    return names;
}

} // namespace

QString CtlResultToString(ctl_result_t code)
{
    return resultNames().value(code, QStringLiteral("[Unknown Error]"));
}
