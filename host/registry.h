// The class list: registration records that enter the host's list while they
// live, with the tile colour and script information they point at.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/operator.h"
#include "host/tags.h"
#include "host/textid.h"

using FactoryFunc = Operator* (*)(const Registry* reg, const ScriptVal& val, const TagList& tags);

// The host's list of registered classes, in registration order.
class VX_HOST RegistryList {
 public:
  enum class Event { Added, Removed };
  using Observer = std::function<void(Event, const Registry&)>;

  const std::vector<Registry*>& Records() const { return records_; }
  size_t Size() const { return records_.size(); }

  // Looks a class up by registry ID ("Quillmoor.DirtyDof"), by name
  // ("DirtyDOF") or by class name ("DirtyDof"), in any letter case. Null
  // when nothing matches.
  Registry* Find(std::string_view text) const;

  // Told of every record that enters or leaves the list.
  void SetObserver(Observer observer) { observer_ = std::move(observer); }

 private:
  friend class Registry;
  void Add(Registry* reg);
  void Remove(Registry* reg);

  std::vector<Registry*> records_;
  Observer observer_;
};

VX_HOST extern RegistryList ClassRegistry;

class VX_HOST ResColor {
 public:
  ResColor(const char* name, uint32_t first, uint32_t second)
      : name_(name), first_(first), second_(second) {}
  const char* Name() const { return name_; }
  uint32_t First() const { return first_; }
  uint32_t Second() const { return second_; }

 private:
  const char* name_;
  uint32_t first_, second_;
};

class VX_HOST ScriptInfo {
 public:
  ScriptInfo(int kind, const char* className, const char* first, const char* second)
      : kind_(kind), className_(className), first_(first), second_(second) {}
  virtual ~ScriptInfo() = default;
  virtual void* Wrap(void* object) = 0;
  virtual void* Unwrap(void* object) = 0;

  int Kind() const { return kind_; }
  const char* ClassName() const { return className_; }
  // The two further texts, held for the host as they were given.
  const char* First() const { return first_; }
  const char* Second() const { return second_; }

 private:
  int kind_;
  const char* className_;
  const char* first_;
  const char* second_;
};

// Script information of one class; both operations hand the pointer back.
template <typename T>
class ScriptInfoT : public ScriptInfo {
 public:
  using ScriptInfo::ScriptInfo;
  void* Wrap(void* object) override { return object; }
  void* Unwrap(void* object) override { return object; }
};

// A registration record. Building it enters the class into the list;
// destroying it takes it out.
class VX_HOST Registry {
 public:
  Registry(RegistryList* list, const TextID& id, const TagList& tags);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  const TextID& ID() const { return id_; }
  const TagList& Tags() const { return tags_; }
  const char* Name() const;
  const char* Category() const;
  const char* Description() const;
  const ScriptInfo* Script() const;
  // The name of the C++ class the record creates ("Relight").
  std::string ClassName() const;

  // A new object of the class, with one hold for the caller, or null when
  // the factory yields nothing.
  Operator* Create() const;

 private:
  RegistryList* list_;
  TextID id_;
  TagList tags_;
};
