// Stereo input switch: passes the image of one eye of a stereo pair to the
// output, chosen by "Input". The output is the very image that arrives at the
// chosen input, not a copy. When the chosen input is not connected nothing is
// set on the output; the other input is never consulted.
#include "frame/tool.h"

class StereoSwitch : public ThreadedOperator {
 public:
  StereoSwitch(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("StereoSwitch", "Stereo Input Switch"));
    choice_ = Add(*this, Choice("Input", "Input", {"Left", "Right"}, "Left").Flag0());
    left_ = Add(*this, ImageInput("LeftImage", "Left Image").MainInput(1).Optional());
    right_ = Add(*this, ImageInput("RightImage", "Right Image").MainInput(2).Optional());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    // Choice values are interned: the options are told apart by pointer.
    static const TextID left("Left"), right("Right");
    const TextID choice = ChoiceValue(choice_, req);
    if (choice == left) PassOn(left_, req);
    if (choice == right) PassOn(right_, req);
  }

 private:
  void PassOn(Input* eye, Request* req) {
    Image* img = ImageValue(eye, req);
    if (!img) return;
    // The image belongs to the input it came from: take a hold of our own
    // for the output to take over.
    img->Use();
    output_->Set(req, img);
  }

  Input* title_;
  Input* choice_;
  Input* left_;
  Input* right_;
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
