// Symbol visibility of the host library: everything the module and the
// programs call is exported, the rest stays inside.
#pragma once

#define VX_HOST __attribute__((visibility("default")))
