// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class DirtyDof : public ThreadedOperator {
 public:
  DirtyDof(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord DirtyDofRecord = {
    .registryId = "Quillmoor.DirtyDof",
    .name = "DirtyDOF",
    .category = "Vexlan\\Blur",
    .shortName = "DirtyDOF",
    .description = "DirtyDOF",
    .buildText = "Built: Aug  9 2012",
    .regInt4 = 341,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<DirtyDof>,
};
