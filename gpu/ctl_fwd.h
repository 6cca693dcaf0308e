#pragma once
// Forward declarations of the two control-library types that appear in the
// worker's slot signatures. The full records live in ctl_api.h.

typedef struct _ctl_device_adapter_handle_t* ctl_device_adapter_handle_t;
typedef struct _ctl_device_adapter_properties_t ctl_device_adapter_properties_t;
