// The records of the module's fourteen tools, each defined in its tool's file.
#pragma once

#include "frame/tool.h"

class FoCalc;
class ZRemapper;
class Normalizer;
class ClipMotionVectors;
class Convolution;
class DirtyDof;
class Relight;
class SimpleSpotlight;
class SSAO;
class StereoSwitch;
class UVpositioner;
class UVunwrap;
class ZDevider;
class Fallof;

extern const ToolRecord FoCalcRecord;
extern const ToolRecord ZRemapperRecord;
extern const ToolRecord NormalizerRecord;
extern const ToolRecord ClipMotionVectorsRecord;
extern const ToolRecord ConvolutionRecord;
extern const ToolRecord DirtyDofRecord;
extern const ToolRecord RelightRecord;
extern const ToolRecord SimpleSpotlightRecord;
extern const ToolRecord SSAORecord;
extern const ToolRecord StereoSwitchRecord;
extern const ToolRecord UVpositionerRecord;
extern const ToolRecord UVunwrapRecord;
extern const ToolRecord ZDeviderRecord;
extern const ToolRecord FallofRecord;
