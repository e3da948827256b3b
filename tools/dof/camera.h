// The thin-lens camera shared by the depth-of-field tools: from focal length
// (mm), plane of focus (m) and film gate (inches) to the acceptable blur
// circle, the hyperfocal distance and the limits of the depth of field.
#pragma once

#include <cmath>

#include "frame/tool.h"

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

// The camera inputs of the depth-of-field tools, and the page of six fields
// that shows what they give. The plane of focus is each tool's own.
struct CameraPage {
  Input* focalLength;
  Input* apertureWidth;
  Input* apertureHeight;
  Input* fstop;
  Input* outputLabel;
  Input* frameAspect;
  Input* coc;
  Input* hyperFocal;
  Input* infiniteNote;
  Input* dofNear;
  Input* dofFar;
  Input* dofTotal;

  void AddFocalLength(Operator& op) {
    focalLength = Add(op, Slider("FocalLength", "Focal Length (mm)").LowerLimit(0.0).Default(50.0));
  }
  // The film gate and the f-stop, after the plane of focus.
  void AddGateAndFstop(Operator& op) {
    apertureWidth =
        Add(op, Slider("ApertureWidth", "Aperture Width (inch)").LowerLimit(0.0).Default(0.98));
    apertureHeight =
        Add(op, Slider("ApertureHeight", "Aperture Height (inch)").LowerLimit(0.0).Default(0.735));
    fstop = Add(op, Slider("Fstop", "Fstop").LowerLimit(0.0).Default(2.8));
  }
  // The fields start at fixed numbers of their own, not at the results of
  // the default camera; the first render replaces them.
  void AddFields(Operator& op, const char* caption) {
    outputLabel = Add(op, Label("CDO", caption));
    frameAspect = Add(op, Slider("FrameAspect", "Frame Aspect").Default(1.0).Computed());
    coc = Add(op, Slider("CoC", "Circle of confusion (mm)").Default(1.0).Computed());
    hyperFocal = Add(op, Slider("HyperFocal", "HyperFocal (m)").Default(53.26039).Computed());
    infiniteNote =
        Add(op, Label("DOFInfo", "If DofFar and DofTotal are infinite number output is 0.0"));
    dofNear = Add(op, Slider("DoFN", "DoF Near (m)").Default(7.783956).Computed());
    dofFar = Add(op, Slider("DoFF", "DoF Far (m)").Default(10.97404).Computed());
    dofTotal = Add(op, Slider("DoFT", "DoF Total (m)").Default(3.19008).Computed());
  }

  // The depth of field of the request's camera at this plane of focus,
  // shown in the six fields.
  DepthOfField Show(Request* req, double planeOfFocus) const {
    const double apertureW = NumberValue(apertureWidth, req);
    const double apertureH = NumberValue(apertureHeight, req);
    const double f = NumberValue(fstop, req);
    const double focal = NumberValue(focalLength, req);
    const DepthOfField dof = ComputeDepthOfField(focal, planeOfFocus, apertureW, apertureH, f);
    ShowValue(frameAspect, dof.aspect);
    ShowValue(coc, dof.coc);
    ShowValue(hyperFocal, dof.hyperfocal);
    ShowValue(dofNear, dof.near);
    ShowValue(dofFar, ShownFar(dof));
    ShowValue(dofTotal, ShownTotal(dof));
    return dof;
  }
};
