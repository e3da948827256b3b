#include "cli/module.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "cli/errors.h"
#include "host/registry.h"

std::string ModulePath(const std::string& pluginOption) {
  if (!pluginOption.empty()) return pluginOption;
  if (const char* env = std::getenv("VEXLAN_PLUGIN"); env && *env) return env;
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "../plugins/Vexlan.plugin";
  return (exe.parent_path() / ".." / "plugins" / "Vexlan.plugin").lexically_normal().string();
}

LoadedModule::LoadedModule(const std::string& path) {
  if (std::filesystem::is_directory(path))
    throw RunError("cannot load the module " + path + ": it is a folder");
  // A name without a slash would make dlopen search the library path.
  const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    throw RunError("cannot load the module " + path + ": " + (why ? why : "unknown reason") +
                   "\n(name the module with --plugin PATH or the environment variable "
                   "VEXLAN_PLUGIN)");
  }
}

LoadedModule::~LoadedModule() { dlclose(handle_); }

const Registry& FindTool(const std::string& name) {
  if (const Registry* reg = ClassRegistry.Find(name)) return *reg;
  std::string message = "unknown tool \"" + name + "\"; ";
  if (ClassRegistry.Size() == 0) throw UsageError(message + "the module registered no tools");
  message += "valid tools (registry ID, name or class name, any letter case):";
  for (const Registry* reg : ClassRegistry.Records()) {
    message += "\n  ";
    message += reg->ID().Text();
    message += "  ";
    message += reg->Name() ? reg->Name() : "";
  }
  throw UsageError(message);
}
