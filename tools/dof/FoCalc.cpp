// Depth-of-field calculator: from the camera's focal length, plane of focus,
// film gate and f-stop it works out the frame aspect, the acceptable blur
// circle, the hyperfocal distance and the near, far and total depth of field,
// and shows them in six fields of its page. The image passes through as it
// came; the fields show the values of the last rendered frame.
#include <cmath>

#include "frame/tool.h"
#include "tools/dof/camera.h"

class FoCalc : public ThreadedOperator {
 public:
  FoCalc(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ICI", "Input Cam And Scene Info"));
    camera_.AddFocalLength(*this);
    planeOfFocus_ =
        Add(*this, Slider("PlaneOfFocus", "Plane Of Focus (m)").Default(9.107735).LowerLimit(0.0));
    camera_.AddGateAndFstop(*this);
    camera_.AddFields(*this, "Calculated DoF Output");
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    // The plane of focus counts by its size: a negative one is the same
    // distance in front of the lens.
    const double planeOfFocus = std::fabs(NumberValue(planeOfFocus_, req));
    camera_.Show(req, planeOfFocus);

    Image* src = ImageValue(input_, req);
    Image* dst = NewImage({{ImageLike, src}});
    CopyPixels(src, dst);
    output_->Set(req, dst);
  }

 private:
  Input* title_;
  CameraPage camera_;
  Input* planeOfFocus_;
  Input* input_;
  Output* output_;
};

extern constinit const ToolRecord FoCalcRecord = {
    .registryId = "Quillmoor.FoCalc",
    .name = "FoCalc",
    .category = "Vexlan\\DofTools",
    .shortName = "FoCalc",
    .description = "Depth Of Field Calculator Tool",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<FoCalc>,
};
