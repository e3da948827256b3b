// Finding and loading the module, and finding its tools in the host's class
// list.
#pragma once

#include <string>

class Registry;

// The module named by --plugin, else by VEXLAN_PLUGIN, else the one installed
// beside the program (../plugins/Vexlan.plugin from the executable's folder).
std::string ModulePath(const std::string& pluginOption);

// The loaded module: its tools stay registered while this lives. Unloading
// takes them out again, so no tool object may outlive it.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path);  // throws RunError
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

 private:
  void* handle_;
};

// The tool named by registry ID, name or class name, in any letter case;
// a UsageError listing the valid names when there is none.
const Registry& FindTool(const std::string& name);
