// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class UVpositioner : public ThreadedOperator {
 public:
  UVpositioner(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord UVpositionerRecord = {
    .registryId = "Quillmoor.UVpositioner",
    .name = "UVpositioner",
    .category = "Vexlan\\UVTools",
    .shortName = "UVpositioner",
    .description = "UV positioner",
    .buildText = "Built: Dec 20 2010",
    .regInt4 = 354,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<UVpositioner>,
};
