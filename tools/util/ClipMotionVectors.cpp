// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class ClipMotionVectors : public ThreadedOperator {
 public:
  ClipMotionVectors(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord ClipMotionVectorsRecord = {
    .registryId = "Quillmoor.ClipMotionVectors",
    .name = "ClipMotionVectors",
    .category = "Vexlan\\Misc",
    .shortName = "ClipMotionVectors",
    .description = "ClipMotionVectors",
    .buildText = "Built: Jan 16 2011",
    .regInt4 = 354,
    .regInt3 = std::nullopt,
    .regInt19 = std::nullopt,
    .factory = Factory<ClipMotionVectors>,
};
