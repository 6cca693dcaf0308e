// A control library without ctlInit: it still loads, its own entry points stay reachable.
#include "gpu/ctl_api.h"

extern "C" {
CTL_APIEXPORT ctl_result_t ctlClose(ctl_api_handle_t) { return CTL_RESULT_SUCCESS; }
CTL_APIEXPORT ctl_result_t ctlPciGetState(ctl_device_adapter_handle_t, ctl_pci_state_t *)
{
    return CTL_RESULT_ERROR_DATA_READ;
}
}
