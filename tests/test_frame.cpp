// The module: loading registers the fourteen tools in order, unloading takes
// them out in reverse; every tool has the common page shape.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/harness.h"

namespace {

struct Expected {
  const char *id, *name, *category, *shortName, *description, *build;
  int int4;
  std::optional<int> int3, int19;
};

const Expected Records[] = {
    {"Quillmoor.FoCalc", "FoCalc", "Vexlan\\DofTools", "FoCalc", "Depth Of Field Calculator Tool",
     "Built: Dec 11 2010", 343, 1, 1},
    {"Quillmoor.ZRemapper", "ZRemapper", "Vexlan\\DofTools", "ZRemap", "Z Depth Remap Tool",
     "Built: Dec 11 2010", 343, 1, 1},
    {"Quillmoor.Normalizer", "Normalizer", "Vexlan\\ColorTools", "Normalizer", "Channel Normalizer",
     "Built: Dec 11 2010", 343, std::nullopt, std::nullopt},
    {"Quillmoor.ClipMotionVectors", "ClipMotionVectors", "Vexlan\\Misc", "ClipMotionVectors",
     "ClipMotionVectors", "Built: Jan 16 2011", 354, std::nullopt, std::nullopt},
    {"Quillmoor.Convolution", "Convolution", "Vexlan\\Blur", "Convolution", "Convolution",
     "Built: Aug  9 2012", 341, 0, 0},
    {"Quillmoor.DirtyDof", "DirtyDOF", "Vexlan\\Blur", "DirtyDOF", "DirtyDOF", "Built: Aug  9 2012",
     341, 0, 0},
    {"Quillmoor.IntuitiveRelighter", "IntuitiveRelighter", "Vexlan\\RelightTools",
     "IntuitiveRelight", "Intuitive Relighter", "Built: Jan  4 2011", 354, 0, 0},
    {"Quillmoor.SimpleSpotlight", "SimpleSpotlight", "Vexlan\\RelightTools", "SimpleSpotlight",
     "Spot Relighter", "Built: Jan  7 2011", 354, 0, 0},
    {"Quillmoor.SSAO", "SSAO", "Vexlan\\RelightTools", "SSAO", "Screen Space Ambient Occlusion",
     "Built: Jan  4 2011", 354, 0, 1},
    {"Quillmoor.StereoSwitch", "StereoSwitch", "Vexlan\\Stereo", "StereoSwitch", "StereoSwitch",
     "Built: Jan 19 2012", 354, 1, 1},
    {"Quillmoor.UVpositioner", "UVpositioner", "Vexlan\\UVTools", "UVpositioner", "UV positioner",
     "Built: Dec 20 2010", 354, 1, 1},
    {"Quillmoor.UVunwrap", "UVunwrap", "Vexlan\\UVTools", "UVunwrap", "UV unwrapper",
     "Built: Dec 20 2010", 354, 1, 1},
    {"Quillmoor.ZDevider", "ZDevider", "Vexlan\\DofTools", "ZDevider", "Z Depth Devider Tool",
     "Built: Dec 11 2010", 343, 1, 1},
    {"Quillmoor.Falloff", "Falloff", "Vexlan\\RelightTools", "Falloff", "Falloff Mask",
     "Built: Oct  4 2012", 354, 0, 0},
};

// The tags of a list, in order; a zero tag ends it.
std::vector<Tag> TagsOf(const TagList& list) {
  std::vector<Tag> tags;
  for (const TagItem& item : list) tags.push_back(item.tag);
  EXPECT_EQ(list.Data()[list.Size()].tag, 0u);
  return tags;
}

// The module loaded for the life of one test, or until reset.
using Module = std::unique_ptr<void, int (*)(void*)>;
Module Load() { return Module(dlopen(VEXLAN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL), dlclose); }

TEST(Module, RegistersTheFourteenToolsInOrderWithTheirRecordsAndTheCommonPageShape) {
  const size_t before = ClassRegistry.Size();
  Module module = Load();
  ASSERT_TRUE(module) << dlerror();
  ASSERT_EQ(ClassRegistry.Size(), before + 14);
  EXPECT_STREQ(ClassRegistry.Find("Quillmoor.DirtyDof")->Name(), "DirtyDOF");
  EXPECT_EQ(ClassRegistry.Find("Quillmoor.Falloff")->ClassName(), "Fallof");
  EXPECT_EQ(ClassRegistry.Find("Quillmoor.IntuitiveRelighter")->ClassName(), "Relight");
  EXPECT_EQ(ClassRegistry.Find("relight"), ClassRegistry.Find("IntuitiveRelighter"));
  EXPECT_EQ(ClassRegistry.Find("dirtydof"), ClassRegistry.Find("Quillmoor.DirtyDof"));
  EXPECT_EQ(ClassRegistry.Find("Quillmoor.Nothing"), nullptr);
  for (size_t i = 0; i < 14; ++i) {
    const Registry& reg = *ClassRegistry.Records()[before + i];
    const Expected& want = Records[i];
    SCOPED_TRACE(want.id);
    EXPECT_TRUE(reg.ID() == want.id);
    EXPECT_STREQ(reg.Name(), want.name);
    EXPECT_STREQ(reg.Category(), want.category);
    EXPECT_STREQ(reg.Tags().GetText(RegShortName), want.shortName);
    EXPECT_STREQ(reg.Description(), want.description);
    EXPECT_STREQ(reg.Tags().GetText(RegBuildText), want.build);
    EXPECT_EQ(reg.Tags().GetInt(RegInt4), want.int4);
    EXPECT_EQ(reg.Tags().GetInt(RegInt3), want.int3);
    EXPECT_EQ(reg.Tags().GetInt(RegInt19), want.int19);
    EXPECT_EQ(reg.Tags().GetInt(RegInt0), 3);
    EXPECT_EQ(reg.Tags().GetInt(RegInt1B), 1);
    EXPECT_STREQ(reg.Script()->ClassName(), want.id);

    // The tags in the host's order, ended by a zero tag.
    std::vector<Tag> order = {RegInitFunc,  RegCleanupFunc, RegInt0,      RegBuildText,
                              RegBaseClass, RegScriptInfo,  RegFactory,   RegInt4,
                              RegName,      RegCategory,    RegShortName, RegDescription};
    if (want.int3) order.push_back(RegInt3);
    if (want.int19) order.push_back(RegInt19);
    order.insert(order.end(), {RegInt1B, RegTileColor});
    EXPECT_EQ(TagsOf(reg.Tags()), order);

    const auto* tile = static_cast<const ResColor*>(reg.Tags().GetPointer(RegTileColor));
    EXPECT_EQ(tile->Name(), nullptr);
    EXPECT_EQ(tile->First(), 0x002B2A27u);
    EXPECT_EQ(tile->Second(), 0x007A0CE8u);
    EXPECT_EQ(reg.Tags().GetPointer(RegBaseClass), &ThreadedOperator::ClassID);

    // The common page shape.
    Operator* tool = reg.Create();
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->Pages(), std::vector<std::string>{"Settings"});
    ASSERT_FALSE(tool->Inputs().empty());
    const Input& title = *tool->Inputs().front();
    EXPECT_EQ(title.Kind(), InputKind::Label);
    EXPECT_TRUE(title.Control() == "LabelControl");
    EXPECT_EQ(title.Attributes().GetInt(InputFlag0), 0);
    EXPECT_EQ(title.Attributes().GetInt(InputFlag10), 1);
    ASSERT_EQ(tool->Outputs().size(), 1u);
    const Output& out = *tool->Outputs().front();
    EXPECT_TRUE(out.ID() == "Output");
    EXPECT_TRUE(out.Name() == "Output");
    EXPECT_TRUE(*out.Attributes().GetID(DataType) == "Image");
    EXPECT_EQ(out.Attributes().GetInt(MainInput), 1);
    // Image inputs come after every other input, each with a main input.
    bool imagesStarted = false;
    for (const auto& in : tool->Inputs()) {
      if (in->Kind() == InputKind::Image) {
        imagesStarted = true;
        EXPECT_TRUE(in->Attributes().GetInt(MainInput)) << in->ID().Text();
      } else {
        EXPECT_FALSE(imagesStarted) << in->ID().Text() << " follows an image input";
      }
    }
    EXPECT_TRUE(imagesStarted);
    tool->Recycle();
  }
}

TEST(Module, UnloadingRemovesTheRecordsInReverseOrder) {
  const std::vector<Registry*> before = ClassRegistry.Records();
  for (int cycle = 0; cycle < 3; ++cycle) {
    Module module = Load();
    ASSERT_TRUE(module);
    std::vector<std::string> removed;
    ClassRegistry.SetObserver([&](RegistryList::Event event, const Registry& reg) {
      if (event == RegistryList::Event::Removed) removed.push_back(reg.ID().Text());
    });
    module.reset();
    ClassRegistry.SetObserver(nullptr);
    ASSERT_EQ(removed.size(), 14u);
    for (size_t i = 0; i < 14; ++i) EXPECT_EQ(removed[i], Records[13 - i].id);
    EXPECT_EQ(ClassRegistry.Records(), before);
  }
}

TEST(InputVocabulary, WritesAttributesInTheOrderGiven) {
  EXPECT_EQ(TagsOf(Slider("Fstop", "Fstop").LowerLimit(0.0).Default(2.8).Attributes()),
            (std::vector<Tag>{DataType, InputControl, RangeMin, Default}));
  InputDecl field = Slider("CoC", "Circle of confusion (mm)").Default(1.0).Computed();
  EXPECT_EQ(TagsOf(field.Attributes()),
            (std::vector<Tag>{DataType, InputControl, Default, InputFlagA, InputFlag10}));
  InputDecl choice = Choice("Mode", "Mode", {"Black", "Wrap"}, "Wrap");
  EXPECT_EQ(TagsOf(choice.Attributes()), (std::vector<Tag>{DataType, InputControl, ChoiceText,
                                                           ChoiceText, ChoiceFlag, ChoiceDefault}));
  EXPECT_TRUE(*choice.Attributes().GetID(DataType) == "TextID");

  InputDecl label = Label("ICI", "Title");
  EXPECT_FALSE(label.Attributes().Find(DataType));
  EXPECT_STREQ(label.Name(), "Title");
}

}  // namespace
