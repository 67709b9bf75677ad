#include "VeilixControl/VeilixControlVersion.h"

const char *VeilixControlVersion()
{
    return VEILIXCONTROL_VERSION_STRING;
}
