// Z depth remapper: turns a Z-depth pass into a map of how far each pixel
// lies out of focus, in metres: 0 inside the zone of sharpness, growing
// linearly in front of the near limit and behind the far limit. Depths and
// the plane of focus are in scene units and are divided by the scene scale
// first; the six fields show the camera values of that scaled plane of focus.
// The map can exceed 1: the Z depth divider scales it down.
// The fast rows of the common layout are in ZRemapper_rows.cpp.
#include <cmath>

#include "frame/tool.h"
#include "tools/dof/camera.h"
#include "tools/dof/rules.h"

class ZRemapper : public ThreadedOperator {
 public:
  ZRemapper(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ICI", "Input Cam And Scene Info"));
    sceneScale_ = Add(*this, Slider("SceneScale", "Scene Scale").Default(1.0));
    camera_.AddFocalLength(*this);
    planeOfFocus_ = Add(*this, Color("PlaneOfFocus", "Plane Of Focus (m)")
                                   .Default(9.107735)
                                   .ColorGroup(1)
                                   .ColorChannel(0));
    camera_.AddGateAndFstop(*this);
    camera_.AddFields(*this, "Calculated DoF Output (not multiplied by scene scale)");
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const double scale = NumberValue(sceneScale_, req);
    const double planeOfFocus = std::fabs(NumberValue(planeOfFocus_, req) / scale);
    // The fields show the scaled values, not multiplied back by the scale.
    const DepthOfField dof = camera_.Show(req, planeOfFocus);

    Image* src = ImageValue(input_, req);
    Image* dst = NewImage({{ImageLike, src}});
    // The pixels see the far limit as it is, unbounded or not.
    const dof::SharpZone zone{scale, planeOfFocus, dof.near, dof.far};
    if (src->FurtherCount() == 0) {
      for (int32_t y = 0; y < src->Height(); ++y)
        dof::RemapRow(zone, src->Group1(0, y), dst->Group1(0, y), size_t(src->Width()));
    } else {
      MapPixels(src, dst, [&zone](auto& px) {
        const dof::Side side = dof::SideOf(zone, px.B());
        px.B() = dof::DistanceOutOfFocus(zone, px.B(), side);
        px.G() = dof::DistanceOutOfFocus(zone, px.G(), side);
        px.R() = dof::DistanceOutOfFocus(zone, px.R(), side);
      });
    }
    output_->Set(req, dst);
  }

 private:
  Input* title_;
  Input* sceneScale_;
  CameraPage camera_;
  Input* planeOfFocus_;
  Input* input_;
  Output* output_;
};

extern constinit const ToolRecord ZRemapperRecord = {
    .registryId = "Quillmoor.ZRemapper",
    .name = "ZRemapper",
    .category = "Vexlan\\DofTools",
    .shortName = "ZRemap",
    .description = "Z Depth Remap Tool",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<ZRemapper>,
};
