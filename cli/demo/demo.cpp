#include "cli/demo/demo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>

#include "cli/demo/scene.h"
#include "cli/demo/steps.h"
#include "cli/errors.h"
#include "cli/files/image_io.h"
#include "cli/render.h"

namespace fs = std::filesystem;

namespace {

std::string PreviewPath(const fs::path& file) {
  fs::path preview = file;
  return preview.replace_extension(".png").string();
}

// A preview of a tool's result, display-encoded like the beauty pass: as it
// is when it lies in 0..1, else scaled from its lowest (or 0) to its highest
// finite value.
FloatImage ResultPreview(const Image& img) {
  float low = 0.0f, high = 1.0f;
  for (int32_t y = 0; y < img.Height(); ++y)
    for (int32_t x = 0; x < img.Width(); ++x)
      for (int c : {ChanR, ChanG, ChanB}) {
        const float v = img.Group1(x, y)[c];
        if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
      }
  FloatImage scaled(img.Width(), img.Height(), {"R", "G", "B"});
  for (int32_t y = 0; y < img.Height(); ++y)
    for (int32_t x = 0; x < img.Width(); ++x) {
      const float* px = img.Group1(x, y);
      float* dst = scaled.At(x, y);
      dst[0] = (px[ChanR] - low) / (high - low);
      dst[1] = (px[ChanG] - low) / (high - low);
      dst[2] = (px[ChanB] - low) / (high - low);
    }
  return PreviewOf(scaled, PreviewKind::Colour);
}

// The step as the user would type it, with names relative to the folder.
std::string CommandText(const DemoStep& step) {
  std::string text = "vexlan render " + step.tool;
  for (const std::string& input : step.inputs) text += " --input '" + input + "'";
  for (const std::string& set : step.sets) text += " --set '" + set + "'";
  return text + " --output " + step.output;
}

// "ID=FILE[:LAYER]" with FILE taken from the demo folder.
std::string InFolder(const fs::path& folder, const std::string& input) {
  const size_t equals = input.find('=');
  if (equals == std::string::npos) return input;
  return input.substr(0, equals + 1) + (folder / input.substr(equals + 1)).string();
}

// The `ID = VALUE` lines that a render printed.
std::map<std::string, double> FieldsIn(const std::string& text) {
  std::map<std::string, double> fields;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find(" = ");
    if (equals != std::string::npos && equals > 0)
      fields[line.substr(0, equals)] = std::strtod(line.c_str() + equals + 3, nullptr);
  }
  return fields;
}

bool RunStep(const fs::path& folder, DemoStep step, PrintedFields& printed, std::ostream& out,
             std::ostream& err) {
  if (step.setsFromPrinted) {
    try {
      for (std::string& set : step.setsFromPrinted(printed)) step.sets.push_back(std::move(set));
    } catch (const CliError& e) {
      err << "vexlan: " << e.what() << "\n";
      out << "\n  FAILED: " << step.tool << " for " << step.output << " (the message is above)\n";
      return false;
    }
  }
  out << "\n" << CommandText(step) << "\n";
  RenderCommand command;
  command.tool = step.tool;
  command.output = (folder / step.output).string();
  for (const std::string& input : step.inputs) command.inputs.push_back(InFolder(folder, input));
  command.sets = step.sets;
  std::ostringstream fields;
  const int status = RunRender(command, fields, err);
  out << fields.str();
  printed[step.output] = FieldsIn(fields.str());
  if (status != ExitOk) {
    out << "  FAILED: " << step.tool << " (the message is above)\n";
    return false;
  }
  std::string line = "  wrote " + command.output;
  if (fs::path(command.output).extension() != ".png") {
    try {
      const auto file = OpenImageFile(command.output, "", 1e9);
      const ImagePtr result = file->Read(file->WholeFrame());
      WriteFloatImage(ResultPreview(*result), PreviewPath(command.output));
      line += " and its preview " + PreviewPath(command.output);
    } catch (const CliError& e) {
      err << "vexlan: preview of " << command.output << ": " << e.what() << "\n";
    }
  }
  out << line << "\n";
  return true;
}

}  // namespace

double PrintedField(const PrintedFields& printed, const std::string& output,
                    const std::string& id) {
  const auto step = printed.find(output);
  if (step == printed.end()) throw RunError("the demo step that writes " + output + " has not run");
  const auto field = step->second.find(id);
  if (field == step->second.end())
    throw RunError("the demo step that writes " + output + " printed no field " + id);
  return field->second;
}

int RunDemo(const std::string& folderText, std::ostream& out, std::ostream& err) {
  const fs::path folder(folderText);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) {
    err << "vexlan: cannot make the demo folder " << folderText << ": "
        << (ec ? ec.message() : "a file of that name is in the way") << "\n";
    return ExitFailed;
  }

  out << "Scene passes (" << SceneWidth << " x " << SceneHeight << ", camera "
      << DemoCamera::FocalLength << " mm, in focus at " << DemoCamera::PlaneOfFocus << " m):\n";
  int failed = 0;
  for (const ScenePass& pass : RenderScenePasses()) {
    const std::string exr = (folder / (pass.name + ".exr")).string();
    const std::string png = (folder / (pass.name + ".png")).string();
    try {
      WriteFloatImage(pass.image, exr);
      WriteFloatImage(PreviewOf(pass.image, pass.preview), png);
      out << "  wrote " << exr << " and its preview " << png << "\n";
    } catch (const CliError& e) {
      err << "vexlan: " << e.what() << "\n";
      ++failed;
    }
  }

  std::vector<DemoStep> steps;
  AddDofDemoSteps(steps);
  AddRelightDemoSteps(steps);
  AddUtilityDemoSteps(steps);
  int stepsFailed = 0;
  PrintedFields printed;
  for (const DemoStep& step : steps) stepsFailed += !RunStep(folder, step, printed, out, err);

  out << "\n" << steps.size() << " tool steps, " << stepsFailed << " failed";
  if (failed) out << "; " << failed << " scene passes could not be written";
  out << "\n";
  return failed + stepsFailed == 0 ? ExitOk : ExitFailed;
}
