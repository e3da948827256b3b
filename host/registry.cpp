#include "host/registry.h"

#include <cxxabi.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

RegistryList ClassRegistry;

namespace {

bool SameText(const char* a, std::string_view b) {
  return a && std::strlen(a) == b.size() && strncasecmp(a, b.data(), b.size()) == 0;
}

}  // namespace

Registry* RegistryList::Find(std::string_view text) const {
  for (Registry* reg : records_) {
    if (SameText(reg->ID().Text(), text) || SameText(reg->Name(), text) ||
        SameText(reg->ClassName().c_str(), text))
      return reg;
  }
  return nullptr;
}

void RegistryList::Add(Registry* reg) {
  records_.push_back(reg);
  if (observer_) observer_(Event::Added, *reg);
}

void RegistryList::Remove(Registry* reg) {
  auto it = std::find(records_.begin(), records_.end(), reg);
  if (it == records_.end()) return;
  records_.erase(it);
  if (observer_) observer_(Event::Removed, *reg);
}

Registry::Registry(RegistryList* list, const TextID& id, const TagList& tags)
    : list_(list), id_(id), tags_(tags) {
  if (list_) list_->Add(this);
}

Registry::~Registry() {
  if (list_) list_->Remove(this);
}

const char* Registry::Name() const { return tags_.GetText(RegName); }

const char* Registry::Category() const { return tags_.GetText(RegCategory); }

const char* Registry::Description() const { return tags_.GetText(RegDescription); }

const ScriptInfo* Registry::Script() const {
  return static_cast<const ScriptInfo*>(tags_.GetPointer(RegScriptInfo));
}

std::string Registry::ClassName() const {
  const ScriptInfo* script = Script();
  if (!script) return "";
  // The script information is a ScriptInfoT<Class>; its type names the class.
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeid(*script).name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : "";
  std::free(demangled);
  const size_t open = name.find('<'), close = name.rfind('>');
  if (open == std::string::npos || close == std::string::npos || close < open) return "";
  return name.substr(open + 1, close - open - 1);
}

Operator* Registry::Create() const {
  auto factory = reinterpret_cast<FactoryFunc>(const_cast<void*>(tags_.GetPointer(RegFactory)));
  if (!factory) return nullptr;
  return factory(this, ScriptVal{}, TagList());
}
