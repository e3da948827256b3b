// The module's registrations. Loading the module builds them in the order of
// tools/tools.list, which is the order the tools enter the host's class
// list; unloading destroys them in reverse.
#include "frame/tools.h"

namespace {

#define VEXLAN_REGISTER_TOOL(Class) ToolRegistration<Class> Class##Registration(Class##Record);
VEXLAN_TOOLS(VEXLAN_REGISTER_TOOL)
#undef VEXLAN_REGISTER_TOOL

}  // namespace
