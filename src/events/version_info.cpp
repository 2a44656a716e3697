#include "events/version_info.h"

#include "version_config.h"

extern "C" const TamberVersionInfo __tamber_version_info = {
    sizeof(TamberVersionInfo),
    TAMBER_VERSION_MAJOR,
    TAMBER_VERSION_MINOR,
    TAMBER_VERSION_PATCH,
    0,
    TAMBER_VERSION,
    __DATE__ " " __TIME__,
    TAMBER_SOURCE_REVISION,
};
