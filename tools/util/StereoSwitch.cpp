// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class StereoSwitch : public ThreadedOperator {
 public:
  StereoSwitch(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord StereoSwitchRecord = {
    .registryId = "Quillmoor.StereoSwitch",
    .name = "StereoSwitch",
    .category = "Vexlan\\Stereo",
    .shortName = "StereoSwitch",
    .description = "StereoSwitch",
    .buildText = "Built: Jan 19 2012",
    .regInt4 = 354,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<StereoSwitch>,
};
