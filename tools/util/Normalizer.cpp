// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class Normalizer : public ThreadedOperator {
 public:
  Normalizer(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord NormalizerRecord = {
    .registryId = "Quillmoor.Normalizer",
    .name = "Normalizer",
    .category = "Vexlan\\ColorTools",
    .shortName = "Normalizer",
    .description = "Channel Normalizer",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = std::nullopt,
    .regInt19 = std::nullopt,
    .factory = Factory<Normalizer>,
};
