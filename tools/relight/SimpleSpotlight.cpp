// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class SimpleSpotlight : public ThreadedOperator {
 public:
  SimpleSpotlight(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord SimpleSpotlightRecord = {
    .registryId = "Quillmoor.SimpleSpotlight",
    .name = "SimpleSpotlight",
    .category = "Vexlan\\RelightTools",
    .shortName = "SimpleSpotlight",
    .description = "Spot Relighter",
    .buildText = "Built: Jan  7 2011",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<SimpleSpotlight>,
};
