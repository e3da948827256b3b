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
    focalLength_ =
        Add(*this, Slider("FocalLength", "Focal Length (mm)").LowerLimit(0.0).Default(50.0));
    planeOfFocus_ =
        Add(*this, Slider("PlaneOfFocus", "Plane Of Focus (m)").Default(9.107735).LowerLimit(0.0));
    apertureWidth_ =
        Add(*this, Slider("ApertureWidth", "Aperture Width (inch)").LowerLimit(0.0).Default(0.98));
    apertureHeight_ = Add(
        *this, Slider("ApertureHeight", "Aperture Height (inch)").LowerLimit(0.0).Default(0.735));
    fstop_ = Add(*this, Slider("Fstop", "Fstop").LowerLimit(0.0).Default(2.8));
    outputLabel_ = Add(*this, Label("CDO", "Calculated DoF Output"));
    // The fields start at fixed numbers of their own, not at the results of
    // the default camera; the first render replaces them.
    frameAspect_ = Add(*this, Slider("FrameAspect", "Frame Aspect").Default(1.0).Computed());
    coc_ = Add(*this, Slider("CoC", "Circle of confusion (mm)").Default(1.0).Computed());
    hyperFocal_ = Add(*this, Slider("HyperFocal", "HyperFocal (m)").Default(53.26039).Computed());
    infiniteNote_ =
        Add(*this, Label("DOFInfo", "If DofFar and DofTotal are infinite number output is 0.0"));
    dofNear_ = Add(*this, Slider("DoFN", "DoF Near (m)").Default(7.783956).Computed());
    dofFar_ = Add(*this, Slider("DoFF", "DoF Far (m)").Default(10.97404).Computed());
    dofTotal_ = Add(*this, Slider("DoFT", "DoF Total (m)").Default(3.19008).Computed());
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    // The plane of focus counts by its size: a negative one is the same
    // distance in front of the lens.
    const double planeOfFocus = std::fabs(NumberValue(planeOfFocus_, req));
    const double apertureWidth = NumberValue(apertureWidth_, req);
    const double apertureHeight = NumberValue(apertureHeight_, req);
    const double fstop = NumberValue(fstop_, req);
    const double focalLength = NumberValue(focalLength_, req);
    const DepthOfField dof =
        ComputeDepthOfField(focalLength, planeOfFocus, apertureWidth, apertureHeight, fstop);

    ShowValue(frameAspect_, dof.aspect);
    ShowValue(coc_, dof.coc);
    ShowValue(hyperFocal_, dof.hyperfocal);
    ShowValue(dofNear_, dof.near);
    ShowValue(dofFar_, ShownFar(dof));
    ShowValue(dofTotal_, ShownTotal(dof));

    Image* src = ImageValue(input_, req);
    // Without a source there is nothing to pass on: the fields are up to
    // date and the output stays empty, rather than reading through null.
    if (!src) return;
    Image* dst = NewImage({{ImageLike, src}});
    CopyPixels(src, dst);
    output_->Set(req, dst);
  }

 private:
  Input* title_;
  Input* focalLength_;
  Input* planeOfFocus_;
  Input* apertureWidth_;
  Input* apertureHeight_;
  Input* fstop_;
  Input* outputLabel_;
  Input* frameAspect_;
  Input* coc_;
  Input* hyperFocal_;
  Input* infiniteNote_;
  Input* dofNear_;
  Input* dofFar_;
  Input* dofTotal_;
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
