// Z depth divider: divides the red, green and blue of a depth map by one
// number, Zmax, so that depths up to Zmax fall into 0 to 1. Zmax is usually
// picked from the remapper's out-of-focus map. Nothing is clamped.
#include "frame/tool.h"

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
    const float zmaxFloat = static_cast<float>(zmax);
    if (static_cast<double>(zmaxFloat) == zmax) {
      // A float quotient of floats, worked in double and narrowed, equals
      // the float division itself: double carries more than twice a float's
      // precision. So when Zmax is a float, divide in float, four at a time.
      MapPixels(src, dst, [zmaxFloat](auto& px) {
        px.R() /= zmaxFloat;
        px.G() /= zmaxFloat;
        px.B() /= zmaxFloat;
      });
    } else {
      MapPixels(src, dst, [zmax](auto& px) {
        px.R() = static_cast<float>(px.R() / zmax);
        px.G() = static_cast<float>(px.G() / zmax);
        px.B() = static_cast<float>(px.B() / zmax);
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
