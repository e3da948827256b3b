// Z depth divider: divides the red, green and blue of a depth map by one
// number, Zmax, so that depths up to Zmax fall into 0 to 1. Zmax is usually
// picked from the remapper's out-of-focus map. Nothing is clamped.
// The fast run of the common layout is in ZDevider_rows.cpp.
#include "frame/tool.h"
#include "tools/dof/rules.h"

class ZDevider : public ThreadedOperator {
 public:
  ZDevider(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ICI", "Devides Zdepth values to supress superwhites"));
    zmax_ = Add(*this, Color("Zmax", "Pick Zmax from Remapped Z depth")
                           .Default(1.0)
                           .ColorGroup(1)
                           .ColorChannel(0));
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const double zmax = NumberValue(zmax_, req);
    Image* src = ImageValue(input_, req);
    Image* dst = NewImage({{ImageLike, src}});
    if (src->FurtherCount() == 0 && src->Width() > 0 && src->Height() > 0) {
      // The common layout: the rows of both images follow each other in one
      // block, so the whole image is one run of pixels.
      const size_t pixels = size_t(src->Width()) * size_t(src->Height());
      dof::DivideRun(src->Group1(0, 0), dst->Group1(0, 0), pixels, zmax, StreamsPixels(pixels));
    } else {
      MapPixels(src, dst, [zmax](auto& px) {
        px.R() = dof::DivideDepth(px.R(), zmax);
        px.G() = dof::DivideDepth(px.G(), zmax);
        px.B() = dof::DivideDepth(px.B(), zmax);
      });
    }
    output_->Set(req, dst);
  }

 private:
  Input* title_;
  Input* zmax_;
  Input* input_;
  Output* output_;
};

extern constinit const ToolRecord ZDeviderRecord = {
    .registryId = "Quillmoor.ZDevider",
    .name = "ZDevider",
    .category = "Vexlan\\DofTools",
    .shortName = "ZDevider",
    .description = "Z Depth Devider Tool",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<ZDevider>,
};
