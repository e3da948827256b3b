// Placeholder: the tool's inputs and render operation are still to come;
// until then it renders no image.
#include "frame/tool.h"

class Convolution : public ThreadedOperator {
 public:
  Convolution(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    output_ = AddImageOutput(*this);
  }

 private:
  Output* output_;
};

extern constinit const ToolRecord ConvolutionRecord = {
    .registryId = "Quillmoor.Convolution",
    .name = "Convolution",
    .category = "Vexlan\\Blur",
    .shortName = "Convolution",
    .description = "Convolution",
    .buildText = "Built: Aug  9 2012",
    .regInt4 = 341,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<Convolution>,
};
