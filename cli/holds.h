// Holds on reference-counted host objects, dropped when the pointer goes.
#pragma once

#include <memory>

#include "host/image.h"
#include "host/operator.h"

struct RecycleHold {
  void operator()(RefObject* object) const {
    if (object) object->Recycle();
  }
};

using ImagePtr = std::unique_ptr<Image, RecycleHold>;
using ToolPtr = std::unique_ptr<Operator, RecycleHold>;
