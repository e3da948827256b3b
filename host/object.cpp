#include "host/object.h"

void RefObject::Recycle() {
  if (holders_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}
