// The module's registrations. Loading the module builds them in this order,
// which is the order the tools enter the host's class list; unloading
// destroys them in reverse.
#include "frame/tools.h"

namespace {

ToolRegistration<FoCalc> focalc(FoCalcRecord);
ToolRegistration<ZRemapper> zremapper(ZRemapperRecord);
ToolRegistration<Normalizer> normalizer(NormalizerRecord);
ToolRegistration<ClipMotionVectors> clipMotionVectors(ClipMotionVectorsRecord);
ToolRegistration<Convolution> convolution(ConvolutionRecord);
ToolRegistration<DirtyDof> dirtyDof(DirtyDofRecord);
ToolRegistration<Relight> relight(RelightRecord);
ToolRegistration<SimpleSpotlight> simpleSpotlight(SimpleSpotlightRecord);
ToolRegistration<SSAO> ssao(SSAORecord);
ToolRegistration<StereoSwitch> stereoSwitch(StereoSwitchRecord);
ToolRegistration<UVpositioner> uvPositioner(UVpositionerRecord);
ToolRegistration<UVunwrap> uvUnwrap(UVunwrapRecord);
ToolRegistration<ZDevider> zDevider(ZDeviderRecord);
ToolRegistration<Fallof> fallof(FallofRecord);

}  // namespace
