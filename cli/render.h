// `vexlan render`: one tool, its settings and images, rendered into image
// files, frame by frame, several frames at once on as many threads.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/arguments.h"
#include "cli/files/image_io.h"
#include "host/render.h"

class Registry;

// Half the machine's memory, in MiB: what the frames in flight may take by
// default.
double DefaultMemoryBudget();

// A render as the command line gives it; the demo builds the same.
struct RenderCommand {
  std::string tool;                             // registry ID, name or class name
  std::string output;                           // "PATH[:NAMES]"; a run of '#' is the frame
  std::vector<std::string> inputs;              // "ID=PATH[:SELECTOR]"
  std::vector<std::string> sets;                // "ID=VALUE"
  std::string frames;                           // "A-B"; empty: the single frame 0
  std::optional<int> threads;                   // worker thread limit; unset: as it is
  double maxPixels = 1e9;                       // largest input image accepted
  bool keepGoing = false;                       // a failed frame does not stop the others
  bool carry = false;                           // the main input's whole file goes to the output
  bool fullFrame = false;                       // write the whole frame, not the data window
  std::string format;                           // the output's pixel type; empty: the input's
  std::string compression;                      // the output's compression; empty: the input's
  double memoryBudget = DefaultMemoryBudget();  // MiB the frames in flight may take
};

// The command checked against the tool's inputs.
struct RenderPlan {
  struct ImageSource {
    std::string id;
    std::string pathPattern;
    std::string selector;
    int mainNumber = 0;  // its input's main-input number; the lowest is the main input
    // Read by its own geometry (a kernel, a texture, an eye handed on), not
    // placed beside the main input.
    bool own = false;
  };
  struct Setting {
    std::string id;
    bool isChoice = false;
    double number = 0.0;
    std::string option;
  };

  const Registry* tool = nullptr;
  std::vector<ImageSource> images;
  std::vector<Setting> settings;
  std::string outputPattern;
  WriteOptions write;
  bool carry = false;
  // The tool's result at a pixel comes from its inputs at that pixel alone,
  // so only the main input's data window is rendered.
  bool pointwise = false;
  FrameRange frames;
  double maxPixels = 1e9;
  double memoryBudget = 0;  // bytes
};

// The tool's input `id` as --input and --set check it: an image input, or
// an input that takes a value. `probe` is an object of the tool `reg`
// registers. Throws UsageError naming the inputs that would be valid.
const Input& ImageInputOf(const Operator& probe, const Registry& reg, const std::string& id);
const Input& SettableInputOf(const Operator& probe, const Registry& reg, const std::string& id);
// `value` when it is one of the multi-choice input's option texts, letter
// for letter; else UsageError listing them.
std::string ChosenOption(const Input& in, const std::string& id, const std::string& value);

// Throws UsageError naming what is wrong with the command and what would
// be valid.
RenderPlan PlanRender(const RenderCommand& command);

// A new object of the plan's tool with the plan's settings made.
ToolPtr NewToolObject(const RenderPlan& plan);

// What one frame wrote and the computed display fields after it, in
// creation order.
struct FrameResult {
  std::string output;
  std::vector<std::pair<std::string, double>> computed;
  std::string note;   // for the user, once a run (a type the format could not hold)
  std::string error;  // why the frame failed, when the run keeps going
};

// One frame's input files, opened, with the rectangle each is read over:
// a pointwise tool's main input over its data window, any other over its
// display and data windows together; a second image with the main input's
// display window is read over the main input's rectangle, so that its
// pixels meet the main input's at their absolute places.
struct FrameFiles {
  std::vector<std::unique_ptr<ImageFile>> files;  // beside the plan's images
  std::vector<Rect> rects;
  size_t main = 0;  // the image with the lowest main-input number
};
FrameFiles OpenFrameFiles(const RenderPlan& plan, int frame);

// The memory one frame of these files takes, in bytes: each image's pixels,
// a result like the main input's, and the bands the files are read and
// written through.
double FrameBytes(const FrameFiles& files);

// Renders one frame with one tool object: reads that frame's images and
// connects them, renders a fresh request, writes the output and lets go of
// every image again. Throws RunError (and whatever the render throws).
FrameResult RenderFrame(Operator& tool, const RenderPlan& plan, int frame);

// The whole command: renders up to the worker thread limit (one per core
// when unset or 0) of frames at once, as many as the memory budget holds,
// each with a tool object of its own;
// prints the computed fields of every frame on `out`, in frame order,
// errors on `err`, and returns the exit status (0 when every frame was
// written, 1 when a file or a render failed, 2 for a bad command). A failed
// frame stops the run, unless the command keeps going: then every other
// frame is rendered and the failed ones are listed at the end.
int RunRender(const RenderCommand& command, std::ostream& out, std::ostream& err);
