// The records of the module's tools, each defined in its tool's file; the
// tools themselves are listed in tools/tools.list.
#pragma once

#include "frame/tool.h"
#include "frame/tool_list.h"

#define VEXLAN_DECLARE_TOOL(Class) \
  class Class;                     \
  extern const ToolRecord Class##Record;
VEXLAN_TOOLS(VEXLAN_DECLARE_TOOL)
#undef VEXLAN_DECLARE_TOOL
