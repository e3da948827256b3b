// The thin-lens camera shared by the depth-of-field tools: from focal length
// (mm), plane of focus (m) and film gate (inches) to the acceptable blur
// circle, the hyperfocal distance and the limits of the depth of field.
#pragma once

#include <cmath>

struct DepthOfField {
  double aspect;        // film gate width / height
  double coc;           // acceptable blur circle (mm): gate diagonal / 1500
  double hyperfocalMm;  // K, hyperfocal distance in millimetres
  double hyperfocal;    // H, in metres
  double near;          // near limit (m)
  double far;           // far limit (m); negative when the limit is unbounded
  double total;         // far - near (m)
};

// All in double precision, in exactly this order of operations; nothing is
// guarded, so zero apertures or f-stops give IEEE infinities and NaNs.
inline DepthOfField ComputeDepthOfField(double focalLength, double planeOfFocus,
                                        double apertureWidth, double apertureHeight, double fstop) {
  const double f = focalLength, s = planeOfFocus, w = apertureWidth, h = apertureHeight;
  DepthOfField dof;
  dof.aspect = w / h;
  dof.coc = std::sqrt(h * h + w * w) * 25.4 / 1500;
  dof.hyperfocalMm = (f * f) / (dof.coc * fstop);
  dof.hyperfocal = dof.hyperfocalMm / 1000;
  const double d = s * 1000 - f;
  dof.near = (dof.hyperfocalMm * s) / (dof.hyperfocalMm + d);
  dof.far = (dof.hyperfocalMm * s) / (dof.hyperfocalMm - d);
  dof.total = dof.far - dof.near;
  return dof;
}

// The far limit and total as the tools show them: an unbounded far limit
// (far < 0, the plane of focus beyond the hyperfocal distance) shows as 0.0,
// and so does the total with it. A NaN far stays NaN.
inline double ShownFar(const DepthOfField& dof) { return dof.far < 0.0 ? 0.0 : dof.far; }
inline double ShownTotal(const DepthOfField& dof) { return dof.far < 0.0 ? 0.0 : dof.total; }
