// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class Fallof : public ThreadedOperator {
 public:
  Fallof(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord FallofRecord = {
    .registryId = "Quillmoor.Falloff",
    .name = "Falloff",
    .category = "Vexlan\\RelightTools",
    .shortName = "Falloff",
    .description = "Falloff Mask",
    .buildText = "Built: Oct  4 2012",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<Fallof>,
};
