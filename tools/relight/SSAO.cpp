// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class SSAO : public ThreadedOperator {
 public:
  SSAO(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord SSAORecord = {
    .registryId = "Quillmoor.SSAO",
    .name = "SSAO",
    .category = "Vexlan\\RelightTools",
    .shortName = "SSAO",
    .description = "Screen Space Ambient Occlusion",
    .buildText = "Built: Jan  4 2011",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 1,
    .factory = Factory<SSAO>,
};
