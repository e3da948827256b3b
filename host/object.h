// The root of the host's class chain and the reference count that images and
// other parameter values share.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/export.h"

class VX_HOST LuaClass {
 public:
  virtual ~LuaClass() = default;
};

class VX_HOST ScriptObject : public LuaClass {};

class VX_HOST _Object : public ScriptObject {};

// Reference counted: a new object has one holder, its creator. Use() adds a
// holder, Recycle() drops one and deletes the object with the last.
class VX_HOST RefObject : public _Object {
 public:
  RefObject() = default;
  RefObject(const RefObject&) = delete;
  RefObject& operator=(const RefObject&) = delete;

  virtual void Use() { holders_.fetch_add(1, std::memory_order_relaxed); }
  virtual void Recycle();
  int32_t Holders() const { return holders_.load(std::memory_order_acquire); }

 protected:
  ~RefObject() override = default;

 private:
  std::atomic<int32_t> holders_{1};
};

class VX_HOST Object : public RefObject {};

// A value that an input yields for a request: a Number, an Image or a
// TextIDParam.
class VX_HOST Parameter : public Object {};
