// The demo scene: a few spheres over a ground plane seen by a pinhole camera,
// rendered in code as the passes the tools read, then run through the tools.
//
// Each tool's part of the demo is a list of steps, each written as the
// `vexlan render` command that makes it, so the demo, the guide and the
// command line show the same settings.
#pragma once

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

struct DemoStep {
  std::string tool;                 // as `vexlan render` takes it
  std::string output;               // file written into the demo folder
  std::vector<std::string> inputs;  // "ID=FILE[:LAYER]", FILE a pass or an earlier output
  std::vector<std::string> sets;    // "ID=VALUE"
};

// Each group of tools adds its steps; the demo runs them in this order.
void AddDofDemoSteps(std::vector<DemoStep>& steps);      // cli/demo_dof.cpp
void AddThreadedDemoSteps(std::vector<DemoStep>& steps);     // cli/demo_threaded.cpp
void AddRelightDemoSteps(std::vector<DemoStep>& steps);  // cli/demo_relight.cpp
void AddUtilityDemoSteps(std::vector<DemoStep>& steps);  // cli/demo_util.cpp
