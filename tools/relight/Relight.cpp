// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class Relight : public ThreadedOperator {
 public:
  Relight(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord RelightRecord = {
    .registryId = "Quillmoor.IntuitiveRelighter",
    .name = "IntuitiveRelighter",
    .category = "Vexlan\\RelightTools",
    .shortName = "IntuitiveRelight",
    .description = "Intuitive Relighter",
    .buildText = "Built: Jan  4 2011",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<Relight>,
};
