// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class ZRemapper : public ThreadedOperator {
 public:
  ZRemapper(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord ZRemapperRecord = {
    .registryId = "Quillmoor.ZRemapper",
    .name = "ZRemapper",
    .category = "Vexlan\\DofTools",
    .shortName = "ZRemap",
    .description = "Z Depth Remap Tool",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<ZRemapper>,
};
