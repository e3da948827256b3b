// The demo scene: a few spheres over a ground plane seen by a pinhole camera,
// rendered in code as the passes the tools read, then run through the tools.
//
// Each tool's part of the demo is a list of steps, each written as the
// `vexlan render` command that makes it, so the demo, the guide and the
// command line show the same settings.
#pragma once

#include <charconv>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The passes the scene writes into the demo folder (all EXR, 32-bit float):
//   beauty.exr    RGBA colour
//   depth.exr     Z depth in metres, one channel "Z"
//   position.exr  world position x, y, z in R, G, B
//   normal.exr    world normal x, y, z in R, G, B, in -1 .. 1
//   normal01.exr  the same normal encoded as 0 .. 1
//   uv.exr        U in R, V in G, 0 .. 1
//   motion.exr    motion vectors in pixels in R, G, B
//   left.exr, right.exr  the stereo pair
//   kernel.exr    a small disc, as a convolution kernel
//   texture.exr   a checker texture with gradients, for the UV tools
// The scene's camera, for the camera-driven tools:
struct DemoCamera {
  static constexpr double FocalLength = 50.0;      // mm
  static constexpr double PlaneOfFocus = 8.0;      // m, the middle sphere
  static constexpr double ApertureWidth = 0.98;    // inch
  static constexpr double ApertureHeight = 0.735;  // inch
  static constexpr double Fstop = 2.8;
};

// The computed fields that the steps run so far printed (`ID = VALUE`), by
// the step's output file, then by the field's ID.
using PrintedFields = std::map<std::string, std::map<std::string, double>>;

struct DemoStep {
  std::string tool;                 // as `vexlan render` takes it
  std::string output;               // file written into the demo folder
  std::vector<std::string> inputs;  // "ID=FILE[:LAYER]", FILE a pass or an earlier output
  std::vector<std::string> sets;    // "ID=VALUE"
  // Settings made from what earlier steps printed, added to `sets` just
  // before the step runs; may throw a RunError naming what it lacks.
  std::function<std::vector<std::string>(const PrintedFields&)> setsFromPrinted = nullptr;
};

// "ID=VALUE" with the shortest text that reads back as the same number.
inline std::string Setting(const char* id, double value) {
  char text[32];
  return std::string(id) + "=" +
         std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The value of field `id` that the step writing `output` printed.
double PrintedField(const PrintedFields& printed, const std::string& output, const std::string& id);

// Each group of tools adds its steps; the demo runs them in this order.
void AddDofDemoSteps(std::vector<DemoStep>& steps);      // cli/demo/steps_dof.cpp
void AddRelightDemoSteps(std::vector<DemoStep>& steps);  // cli/demo/steps_relight.cpp
void AddUtilityDemoSteps(std::vector<DemoStep>& steps);  // cli/demo/steps_util.cpp
