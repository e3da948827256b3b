// The relighting tools on the demo scene. The scene is in metres, with y up
// and the camera at (0, 1.2, 0) looking down -z: a small red sphere at about
// 3.6 m, the orange one at the plane of focus (8 m), a blue one at 16 m and
// a green one at 27 m, all resting on the ground, and a wall at 40 m.
#include <cmath>
#include <string>

#include "cli/demo/steps.h"

void AddRelightDemoSteps(std::vector<DemoStep>& steps) {
  // The occlusion reads its normals encoded 0 .. 1; the contact shadows are
  // faint at intensity 1.
  steps.push_back(
      {"SSAO", "ssao.exr", {"Normals=normal01.exr", "Position=position.exr"}, {"Intensity=4"}});

  // A point light hanging between the red and the orange sphere, 1.2 m above
  // the ground: full within half a metre of it, gone at 4 m.
  steps.push_back({"IntuitiveRelighter",
                   "relight_point.exr",
                   {"NormalsOrPosition=position.exr"},
                   {Setting("Red", -0.3), Setting("Green", 1.2), Setting("Blue", -6.0),
                    Setting("LightSize", 0.5), Setting("LightIntensity", 4.0)}});

  // The same tool on the normal pass with a unit light vector is a distant
  // light: the distance between two unit vectors runs from 0 (facing the
  // light) through √2 (at right angles) to 2 (facing away).
  const double lx = 0.5, ly = 0.8, lz = 0.3, length = std::sqrt(lx * lx + ly * ly + lz * lz);
  steps.push_back(
      {"IntuitiveRelighter",
       "relight_direction.exr",
       {"NormalsOrPosition=normal.exr"},
       {Setting("Red", lx / length), Setting("Green", ly / length), Setting("Blue", lz / length),
        Setting("LightSize", 0.0), Setting("LightIntensity", std::sqrt(2.0))}});

  // A spotlight up and to the right of the camera's path, aimed at the
  // orange sphere; the normal pass adds the diffuse term.
  steps.push_back({"SimpleSpotlight",
                   "spotlight.exr",
                   {"Position=position.exr", "Normals=normal.exr"},
                   {Setting("Red", 2.0), Setting("Green", 4.0), Setting("Blue", -4.0),
                    Setting("Red2", 0.3), Setting("Green2", 0.5), Setting("Blue2", -8.0),
                    Setting("LightConeSize", 8.0), Setting("LightIntensity", 1.0)}});

  // The facing-ratio mask: the rims of the spheres and the ground, seen
  // edge-on, light up; the wall, facing the camera, stays dark.
  steps.push_back({"Falloff", "falloff.exr", {"Normals=normal.exr"}, {}});
}
