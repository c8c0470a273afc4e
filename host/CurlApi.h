// libcurl's API, for every file of the host that needs it. On some systems
// curl.h pulls in the system's own headers, whose macros would take names
// of the platform layer: those are undone here.
#pragma once

#include <curl/curl.h>

#ifdef FreeModule
#undef FreeModule
#endif
