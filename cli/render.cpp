#include "cli/render.h"

#include <oneapi/tbb/info.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <new>
#include <set>

#include "cli/errors.h"
#include "cli/files/image_io.h"
#include "cli/frames.h"
#include "cli/module.h"
#include "host/registry.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ToolName(const Registry& reg) { return reg.Name() ? reg.Name() : reg.ID().Text(); }

bool IsSettable(const Input& in) {
  return (in.Kind() == InputKind::Number || in.Kind() == InputKind::Choice) &&
         !in.IsComputedField();
}

// "Zmax, Map Channel" or "none".
template <typename Keep>
std::string InputIds(const Operator& tool, Keep keep) {
  std::string list;
  for (const auto& in : tool.Inputs())
    if (keep(*in)) list += (list.empty() ? "" : ", ") + std::string(in->ID().Text());
  return list.empty() ? "none" : list;
}

std::string ImageIds(const Operator& tool) {
  return InputIds(tool, [](const Input& in) { return in.Kind() == InputKind::Image; });
}

std::string SettableIds(const Operator& tool) { return InputIds(tool, IsSettable); }

// " (did you mean "Zmax"?)" when an input differs only in letter case.
std::string CaseHint(const Operator& tool, const std::string& id) {
  for (const auto& in : tool.Inputs())
    if (strcasecmp(in->ID().Text(), id.c_str()) == 0)
      return " (did you mean " + Quoted(in->ID().Text()) + "? IDs are matched letter for letter)";
  return "";
}

}  // namespace

const Input& ImageInputOf(const Operator& tool, const Registry& reg, const std::string& id) {
  const Input* in = tool.FindInput(id);
  const std::string name = ToolName(reg);
  if (!in)
    throw UsageError("--input " + id + ": " + name + " has no input " + Quoted(id) +
                     CaseHint(tool, id) + "; its image inputs: " + ImageIds(tool));
  if (in->Kind() == InputKind::Label)
    throw UsageError("--input " + id + ": " + id + " is a label of " + name +
                     ", not an image input; its image inputs: " + ImageIds(tool));
  if (in->Kind() != InputKind::Image)
    throw UsageError("--input " + id + ": " + id + " is a " +
                     (in->Kind() == InputKind::Choice ? "multi-choice" : "number") +
                     " input, not an image; give it with --set " + id + "=VALUE. Image inputs of " +
                     name + ": " + ImageIds(tool));
  return *in;
}

const Input& SettableInputOf(const Operator& tool, const Registry& reg, const std::string& id) {
  const Input* in = tool.FindInput(id);
  const std::string name = ToolName(reg);
  if (!in)
    throw UsageError("--set " + id + ": " + name + " has no input " + Quoted(id) +
                     CaseHint(tool, id) + "; the inputs it takes values for: " + SettableIds(tool));
  if (in->Kind() == InputKind::Label)
    throw UsageError("--set " + id + ": " + id + " is a label of " + name +
                     " and takes no value; the inputs it takes values for: " + SettableIds(tool));
  if (in->Kind() == InputKind::Image)
    throw UsageError("--set " + id + ": " + id + " is an image input; give it with --input " + id +
                     "=PATH. Inputs of " + name + " that take values: " + SettableIds(tool));
  if (in->IsComputedField())
    throw UsageError("--set " + id + ": " + id + " is a field that " + name +
                     " computes during the render; it cannot be set. Inputs that take values: " +
                     SettableIds(tool));
  return *in;
}

std::string ChosenOption(const Input& in, const std::string& id, const std::string& value) {
  std::string valid, hint;
  for (const char* option : in.Options()) {
    if (value == option) return value;
    valid += (valid.empty() ? "" : ", ") + Quoted(option);
    if (strcasecmp(option, value.c_str()) == 0) hint = " (did you mean " + Quoted(option) + "?)";
  }
  throw UsageError("--set " + id + ": " + id + " has no option " + Quoted(value) + hint +
                   "; valid options, letter for letter: " + valid);
}

namespace {

// Lets go of every connected image when the frame is over, however it ends.
class ConnectedImages {
 public:
  explicit ConnectedImages(Operator& tool) : tool_(tool) {}
  ~ConnectedImages() { Release(); }
  void Release() {
    for (const auto& in : tool_.Inputs())
      if (in->Kind() == InputKind::Image) in->Connect(nullptr);
  }

 private:
  Operator& tool_;
};

std::string NoImageMessage(const Operator& tool, const Registry& reg) {
  std::string message = ToolName(reg) + " set no image on its output";
  std::string missing;
  for (const auto& in : tool.Inputs())
    if (in->Kind() == InputKind::Image && !in->IsConnected())
      missing += (missing.empty() ? "" : ", ") + std::string(in->ID().Text());
  if (!missing.empty())
    message += "; image inputs not connected: " + missing + " (connect with --input ID=PATH)";
  return message;
}

std::string Number17(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// How a tool reaches its images, so that a render reads only what its
// result needs. Tools not listed are rendered over the whole frame with
// every second image placed beside the main input: always right, if not
// always the least work.
struct Reach {
  const char* tool;
  bool pointwise;
  std::vector<std::string> own;  // image inputs read by their own geometry
};
const Reach& ReachOf(const Registry& reg) {
  static const Reach reaches[] = {
      {"Quillmoor.FoCalc", true, {}},
      {"Quillmoor.ZRemapper", true, {}},
      {"Quillmoor.ZDevider", true, {}},
      {"Quillmoor.ClipMotionVectors", true, {}},
      {"Quillmoor.IntuitiveRelighter", true, {}},
      {"Quillmoor.SimpleSpotlight", true, {}},
      {"Quillmoor.Falloff", true, {}},
      {"Quillmoor.StereoSwitch", true, {"LeftImage", "RightImage"}},
      {"Quillmoor.UVpositioner", true, {"Image"}},
      {"Quillmoor.Convolution", false, {"Kernel"}},
  };
  static const Reach wholeFrame{"", false, {}};
  for (const Reach& reach : reaches)
    if (reg.ID() == reach.tool) return reach;
  return wholeFrame;
}

int MainInputNumber(const Input& in) { return int(in.Attributes().GetInt(MainInput).value_or(0)); }

}  // namespace

double DefaultMemoryBudget() {
  const double bytes = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
  return bytes > 0 ? bytes / 2 / double(1 << 20) : 4096.0;
}

RenderPlan PlanRender(const RenderCommand& command) {
  RenderPlan plan;
  const Registry& reg = FindTool(command.tool);
  plan.tool = &reg;
  ToolPtr probe(reg.Create());
  if (!probe) throw RunError("cannot create a " + ToolName(reg) + " object");

  for (const std::string& text : command.inputs) {
    const ImageArgument arg = ParseImageArgument(text);
    const Input& in = ImageInputOf(*probe, reg, arg.id);
    for (const auto& earlier : plan.images)
      if (earlier.id == arg.id)
        throw UsageError("--input " + arg.id + ": the image input " + arg.id + " is given twice (" +
                         earlier.pathPattern + " and " + arg.path +
                         "); give each image input once");
    const std::vector<std::string>& own = ReachOf(reg).own;
    plan.images.push_back({arg.id, arg.path, arg.selector, MainInputNumber(in),
                           std::find(own.begin(), own.end(), arg.id) != own.end()});
  }

  for (const std::string& text : command.sets) {
    const SetArgument arg = ParseSetArgument(text);
    const Input& in = SettableInputOf(*probe, reg, arg.id);
    for (const auto& earlier : plan.settings)
      if (earlier.id == arg.id)
        throw UsageError("--set " + arg.id + ": " + arg.id + " is set twice; set it once");
    RenderPlan::Setting setting;
    setting.id = arg.id;
    if (in.Kind() == InputKind::Choice) {
      setting.isChoice = true;
      setting.option = ChosenOption(in, arg.id, arg.value);
    } else {
      setting.number = ParseNumber(arg.value, "--set " + arg.id);
    }
    plan.settings.push_back(setting);
  }

  std::string missing;
  for (const auto& in : probe->Inputs()) {
    if (in->Kind() != InputKind::Image || !in->IsRequired()) continue;
    bool given = false;
    for (const auto& source : plan.images) given = given || source.id == in->ID();
    if (!given) missing += (missing.empty() ? "" : ", ") + std::string(in->ID().Text());
  }
  if (!missing.empty())
    throw UsageError(ToolName(reg) + " needs an image on " + missing +
                     ": give each with --input ID=PATH (image inputs: " + ImageIds(*probe) + ")");

  if (command.output.empty()) throw UsageError("--output PATH is required");
  const PathAndSelector output = SplitSelector(command.output, "--output");
  plan.outputPattern = output.path;
  plan.write = {output.selector, command.format, command.compression, command.fullFrame};
  plan.carry = command.carry;
  plan.pointwise = ReachOf(reg).pointwise;
  if (!command.frames.empty()) plan.frames = ParseFrameRange(command.frames);
  const int64_t frameCount = int64_t(plan.frames.last) - plan.frames.first + 1;
  if (frameCount > 1 && !HasFrameNumber(plan.outputPattern))
    throw UsageError("--output " + plan.outputPattern + ": --frames " + command.frames +
                     " renders " + std::to_string(frameCount) +
                     " frames, but the output has no run of '#' for the frame number, so each "
                     "frame would replace the last (for example out.####.exr)");
  if (command.threads && *command.threads < 0)
    throw UsageError("--threads " + std::to_string(*command.threads) +
                     ": expected 0 (one per core) or more");
  if (!(command.memoryBudget > 0.0))
    throw UsageError("--memory " + Number17(command.memoryBudget) +
                     ": expected a size above 0, in MiB");
  plan.memoryBudget = command.memoryBudget * double(1 << 20);
  if (!(command.maxPixels >= 1.0))
    throw UsageError("--max-pixels " + Number17(command.maxPixels) + ": expected 1 or more");
  plan.maxPixels = command.maxPixels;
  return plan;
}

ToolPtr NewToolObject(const RenderPlan& plan) {
  ToolPtr tool(plan.tool->Create());
  if (!tool) throw RunError("cannot create a " + ToolName(*plan.tool) + " object");
  for (const auto& setting : plan.settings) {
    Input* in = tool->FindInput(setting.id);
    if (setting.isChoice)
      in->SetChoice(TextID(setting.option));
    else
      in->SetNumber(setting.number);
  }
  return tool;
}

FrameFiles OpenFrameFiles(const RenderPlan& plan, int frame) {
  const std::vector<RenderPlan::ImageSource>& sources = plan.images;
  FrameFiles opened;
  for (size_t i = 1; i < sources.size(); ++i)
    if (sources[i].mainNumber < sources[opened.main].mainNumber) opened.main = i;
  for (size_t i = 0; i < sources.size(); ++i) {
    // Only what can reach the output is carried: the main input's rest, or
    // an image the tool may hand on.
    const Carry carry = i == opened.main || sources[i].own
                            ? (plan.carry ? Carry::Everything : Carry::AsSelected)
                            : Carry::Nothing;
    opened.files.push_back(OpenImageFile(FramePath(sources[i].pathPattern, frame),
                                         sources[i].selector, plan.maxPixels, carry));
  }
  const ImageFile& main = *opened.files[opened.main];
  const Rect mainRect =
      plan.pointwise && !plan.write.fullFrame ? main.DataWindow() : main.WholeFrame();
  for (size_t i = 0; i < sources.size(); ++i) {
    const ImageFile& file = *opened.files[i];
    if (i == opened.main || (!sources[i].own && file.DisplayWindow() == main.DisplayWindow()))
      opened.rects.push_back(mainRect);
    else
      opened.rects.push_back(file.WholeFrame());
  }
  return opened;
}

double FrameBytes(const FrameFiles& files) {
  double bytes = 32.0 * (1 << 20);
  for (size_t i = 0; i < files.files.size(); ++i)
    bytes += files.rects[i].Pixels() * files.files[i]->ChannelCount() * sizeof(float);
  return bytes +
         files.rects[files.main].Pixels() * files.files[files.main]->ChannelCount() * sizeof(float);
}

FrameResult RenderFrame(Operator& tool, const RenderPlan& plan, int frame) {
  ConnectedImages connected(tool);
  const FrameFiles opened = OpenFrameFiles(plan, frame);
  // Each image is read when the tool first asks for it: one it never asks
  // for (the eye a stereo switch does not pick) is never read.
  std::vector<const Image*> images(plan.images.size(), nullptr);
  for (size_t i = 0; i < plan.images.size(); ++i)
    tool.FindInput(plan.images[i].id)->ConnectUpstream([&opened, &images, i] {
      ImagePtr img = opened.files[i]->Read(opened.rects[i]);
      images[i] = img.get();
      return img.release();
    });

  ImagePtr result = RenderTool(tool, frame);
  if (!result) throw RunError(NoImageMessage(tool, *plan.tool));
  connected.Release();

  // The result is written like the input it was made like: the one it is,
  // when the tool hands an input on, else the main input.
  size_t like = opened.main;
  for (size_t i = 0; i < images.size(); ++i)
    if (images[i] == result.get()) like = i;
  FrameResult done{FramePath(plan.outputPattern, frame), {}, {}, {}};
  done.note =
      WriteImageFile(*result, opened.rects[like], *opened.files[like], plan.write, done.output);
  for (const auto& in : tool.Inputs())
    if (in->IsComputedField()) done.computed.emplace_back(in->ID().Text(), in->NumberValue());
  return done;
}

namespace {

// Frames rendered at once: one per worker thread allowed (one per core when
// no limit is set), and no more than fit in the memory budget by what the
// first frame's files say one frame takes. A first frame that cannot be
// opened says nothing; its render will say why.
int FramesInFlight(const RenderPlan& plan, const std::optional<int>& threads) {
  const int byThreads =
      threads && *threads > 0 ? *threads : std::max(1, tbb::info::default_concurrency());
  if (byThreads == 1) return 1;
  double bytes = 0;
  try {
    bytes = FrameBytes(OpenFrameFiles(plan, plan.frames.first));
  } catch (const CliError&) {
    return byThreads;
  }
  return int(std::clamp<double>(std::floor(plan.memoryBudget / bytes), 1.0, byThreads));
}

// Why the exception in flight failed the run, as the run reports it, and
// the exit status it gives.
struct Failure {
  std::string text;
  int status;
};
Failure CurrentFailure(const std::string& tool) {
  try {
    throw;
  } catch (const CliError& e) {
    return {e.what(), e.Status()};
  } catch (const std::bad_alloc&) {
    return {"out of memory while rendering " + tool, ExitFailed};
  } catch (const std::exception& e) {
    return {"the render of " + tool + " failed: " + e.what(), ExitFailed};
  } catch (...) {
    return {"the render of " + tool + " failed", ExitFailed};
  }
}

}  // namespace

int RunRender(const RenderCommand& command, std::ostream& out, std::ostream& err) {
  std::string context;   // the frame, for messages about one of several
  bool midLine = false;  // a progress line waits for its end
  try {
    const RenderPlan plan = PlanRender(command);
    CheckOutputPath(FramePath(plan.outputPattern, plan.frames.first), plan.write);
    // The limit holds for every thread of the run: the tools' row workers,
    // the frames in flight and the image library's own.
    if (command.threads) {
      SetWorkerThreadLimit(*command.threads);
      LimitImageFileThreads(*command.threads);
    }
    const int64_t count = int64_t(plan.frames.last) - plan.frames.first + 1;
    // One tool object per frame in flight: an object renders one request at
    // a time. The objects are made before any frame starts.
    std::vector<ToolPtr> tools;
    const int inFlight =
        int(std::min<int64_t>(count > 1 ? FramesInFlight(plan, command.threads) : 1, count));
    for (int i = 0; i < inFlight; ++i) tools.push_back(NewToolObject(plan));
    const bool progress = count > 1 && &err == &std::cerr && isatty(STDERR_FILENO);
    std::vector<int> failed;
    std::set<std::string> notes;
    RenderFramesInOrder(
        plan.frames.first, plan.frames.last, inFlight,
        [&](int worker, int frame) {
          if (!command.keepGoing) return RenderFrame(*tools[worker], plan, frame);
          try {
            return RenderFrame(*tools[worker], plan, frame);
          } catch (...) {
            FrameResult failure;
            failure.error = CurrentFailure(command.tool).text;
            return failure;
          }
        },
        [&](int frame) {
          if (count > 1) context = "frame " + std::to_string(frame) + ": ";
        },
        [&](int frame, const FrameResult& result) {
          if (midLine) err << "\r\x1b[K" << std::flush;  // the fields take the line
          midLine = false;
          if (!result.error.empty()) {
            err << "vexlan: " << context << result.error << "\n";
            failed.push_back(frame);
            return;
          }
          if (!result.note.empty() && notes.insert(result.note).second)
            err << "vexlan: note: " << result.note << "\n";
          for (const auto& [id, value] : result.computed)
            out << id << " = " << Number17(value) << "\n";
          out.flush();
          if (progress) {
            midLine = frame != plan.frames.last;
            err << "\rframe " << frame << " (" << int64_t(frame) - plan.frames.first + 1 << " of "
                << count << ") " << result.output << "\x1b[K" << (midLine ? "" : "\n")
                << std::flush;
          }
        });
    if (!failed.empty()) {
      err << "vexlan: " << failed.size() << " of " << count
          << " frames failed: " << FrameRunsText(RunsOf(failed)) << "\n";
      return ExitFailed;
    }
    return ExitOk;
  } catch (...) {
    if (midLine) err << "\n";
    const Failure failure = CurrentFailure(command.tool);
    err << "vexlan: " << context << failure.text << "\n";
    return failure.status;
  }
}
