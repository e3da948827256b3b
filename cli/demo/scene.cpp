#include "cli/demo/scene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "cli/demo/steps.h"

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Inf = std::numeric_limits<double>::infinity();

struct Vec {
  double x = 0, y = 0, z = 0;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Normalized(Vec a) { return a * (1.0 / std::sqrt(Dot(a, a))); }

// A pinhole camera: world y is up and the camera looks down -z, tilted
// down a little so that the ground runs from the foreground to the wall.
// The picture fills the film gate's width; its height follows the
// picture's aspect.
struct Camera {
  Vec eye;
  Vec right{1, 0, 0};
  Vec up;
  Vec forward;
  double focal = DemoCamera::FocalLength;               // mm
  double gateWidth = DemoCamera::ApertureWidth * 25.4;  // mm
  double gateHeight = gateWidth * SceneHeight / SceneWidth;

  explicit Camera(Vec position, double pitchDegrees = -5.0) : eye(position) {
    const double pitch = pitchDegrees * Pi / 180.0;
    forward = {0, std::sin(pitch), -std::cos(pitch)};
    up = {0, std::cos(pitch), std::sin(pitch)};
  }

  // The ray through the centre of pixel (x, y); row 0 is the top.
  Vec Ray(int x, int y) const {
    const double sx = ((x + 0.5) / SceneWidth - 0.5) * gateWidth;
    const double sy = (0.5 - (y + 0.5) / SceneHeight) * gateHeight;
    return Normalized(right * sx + up * sy + forward * focal);
  }

  // Distance from the camera along its axis: the Z depth.
  double Depth(Vec p) const { return Dot(p - eye, forward); }

  // Where a point lands in the picture, in pixels (centres at .5).
  void Project(Vec p, double& px, double& py) const {
    const Vec d = p - eye;
    const double z = Dot(d, forward);
    px = (focal * Dot(d, right) / z / gateWidth + 0.5) * SceneWidth;
    py = (0.5 - focal * Dot(d, up) / z / gateHeight) * SceneHeight;
  }
};

const Vec CameraPosition{0.0, 1.2, 0.0};
constexpr double EyeSeparation = 0.065;  // metres between the stereo cameras

struct Sphere {
  Vec centre;
  double radius;
  Vec colour;
};

// Nearer than, at and beyond the plane of focus; each rests on the ground.
// The middle sphere's centre lies exactly at the plane of focus.
std::vector<Sphere> SceneSpheres() {
  const Camera camera(CameraPosition);
  const double middleRadius = 0.5;
  // Depth(centre) = PlaneOfFocus, solved for z at the sphere's height.
  const double middleZ =
      (DemoCamera::PlaneOfFocus - camera.forward.y * (middleRadius - CameraPosition.y)) /
      camera.forward.z;
  return {
      {{-0.5, 0.35, -3.6}, 0.35, {0.80, 0.12, 0.08}},
      {{0.3, middleRadius, middleZ}, middleRadius, {0.85, 0.60, 0.15}},
      {{1.6, 0.8, -16.0}, 0.8, {0.12, 0.28, 0.85}},
      {{-2.8, 1.0, -27.0}, 1.0, {0.18, 0.68, 0.22}},
  };
}

// The object the near sphere is moving with between this frame and the next
// (in metres), and the camera's own move; together they make the motion
// pass.
constexpr int MovingSphere = 0;
const Vec SphereMove{0.08, 0.04, 0.0};
const Vec CameraMove{0.12, 0.0, 0.0};

enum ObjectKind { SphereObject, GroundObject, WallObject };

struct Hit {
  double t = Inf;
  Vec point, normal;
  ObjectKind kind = SphereObject;
  int sphere = -1;
  double u = 0, v = 0;
};

class Scene {
 public:
  Scene() : spheres_(SceneSpheres()) {}

  std::optional<Hit> Trace(Vec origin, Vec dir) const {
    Hit best;
    for (int i = 0; i < static_cast<int>(spheres_.size()); ++i) {
      const double t = HitSphere(spheres_[i], origin, dir);
      if (t < best.t) best = {t, {}, {}, SphereObject, i};
    }
    if (dir.y < 0) {
      const double t = -origin.y / dir.y;
      if (t > 1e-9 && t < best.t && (origin + dir * t).z > -SceneFarWall)
        best = {t, {}, {0, 1, 0}, GroundObject};
    }
    if (dir.z < 0) {
      const double t = (-SceneFarWall - origin.z) / dir.z;
      if (t > 1e-9 && t < best.t && (origin + dir * t).y >= 0)
        best = {t, {}, {0, 0, 1}, WallObject};
    }
    if (best.t == Inf) return std::nullopt;
    best.point = origin + dir * best.t;
    SurfaceOf(best);
    return best;
  }

  // Linear colour: a sun from the upper left, a sky fill from above, sharp
  // shadows from the spheres and a small highlight on them.
  Vec Shade(const Hit& hit, Vec dir) const {
    const Vec sun = Normalized({-0.6, 1.0, 0.5});
    const Vec base = BaseColour(hit);
    const double lit = InShadow(hit, sun) ? 0.0 : std::max(0.0, Dot(hit.normal, sun));
    const double fill = 0.18 + 0.12 * hit.normal.y;
    Vec colour = base * (fill + 0.95 * lit);
    if (hit.kind == SphereObject && lit > 0) {
      const double highlight = std::pow(std::max(0.0, Dot(hit.normal, Normalized(sun - dir))), 60);
      colour = colour + Vec{1, 1, 1} * (0.5 * highlight);
    }
    return colour;
  }

  Vec Motion(const Hit& hit) const {
    return hit.kind == SphereObject && hit.sphere == MovingSphere ? SphereMove : Vec{};
  }

 private:
  static double HitSphere(const Sphere& s, Vec origin, Vec dir) {
    const Vec oc = origin - s.centre;
    const double b = Dot(oc, dir);
    const double disc = b * b - (Dot(oc, oc) - s.radius * s.radius);
    if (disc < 0) return Inf;
    const double root = std::sqrt(disc);
    if (-b - root > 1e-9) return -b - root;
    return -b + root > 1e-9 ? -b + root : Inf;
  }

  // Normal and UV, 0..1 across each object: spheres by longitude and
  // latitude, the ground over 20 m by 40 m, the wall over 40 m by 12 m.
  void SurfaceOf(Hit& hit) const {
    const Vec p = hit.point;
    switch (hit.kind) {
      case SphereObject: {
        const Sphere& s = spheres_[hit.sphere];
        hit.normal = (p - s.centre) * (1.0 / s.radius);
        hit.u = 0.5 + std::atan2(hit.normal.x, hit.normal.z) / (2 * Pi);
        hit.v = 0.5 + std::asin(std::clamp(hit.normal.y, -1.0, 1.0)) / Pi;
        break;
      }
      case GroundObject:
        hit.u = std::clamp((p.x + 10.0) / 20.0, 0.0, 1.0);
        hit.v = std::clamp(-p.z / SceneFarWall, 0.0, 1.0);
        break;
      case WallObject:
        hit.u = std::clamp((p.x + 20.0) / 40.0, 0.0, 1.0);
        hit.v = std::clamp(p.y / 12.0, 0.0, 1.0);
        break;
    }
  }

  Vec BaseColour(const Hit& hit) const {
    switch (hit.kind) {
      case SphereObject:
        return spheres_[hit.sphere].colour;
      case GroundObject: {  // one-metre tiles
        const bool dark = (static_cast<long>(std::floor(hit.point.x)) +
                           static_cast<long>(std::floor(hit.point.z))) &
                          1;
        return dark ? Vec{0.28, 0.26, 0.24} : Vec{0.50, 0.48, 0.44};
      }
      case WallObject: {  // pale at the horizon, deeper blue above
        const double up = std::clamp(hit.point.y / 4.0, 0.0, 1.0);
        return Vec{0.62, 0.70, 0.82} * (1 - up) + Vec{0.30, 0.45, 0.80} * up;
      }
    }
    return {};
  }

  bool InShadow(const Hit& hit, Vec sun) const {
    const Vec origin = hit.point + hit.normal * 1e-6;
    for (int i = 0; i < static_cast<int>(spheres_.size()); ++i)
      if (i != hit.sphere && HitSphere(spheres_[i], origin, sun) < Inf) return true;
    return false;
  }

  std::vector<Sphere> spheres_;
};

void Store(float* px, Vec v) {
  px[0] = static_cast<float>(v.x);
  px[1] = static_cast<float>(v.y);
  px[2] = static_cast<float>(v.z);
}

FloatImage Beauty(const Scene& scene, const Camera& camera) {
  FloatImage img(SceneWidth, SceneHeight, {"R", "G", "B", "A"});
  for (int y = 0; y < SceneHeight; ++y)
    for (int x = 0; x < SceneWidth; ++x) {
      const Vec dir = camera.Ray(x, y);
      float* px = img.At(x, y);
      if (const auto hit = scene.Trace(camera.eye, dir)) {
        Store(px, scene.Shade(*hit, dir));
        px[3] = 1.0f;
      }
    }
  return img;
}

// A disc of 1 in a 9 x 9 square of 0, alpha included: a lens-shaped kernel.
FloatImage DiscKernel() {
  const int size = 9;
  const double radius = 4.5, centre = (size - 1) / 2.0;
  FloatImage img(size, size, {"R", "G", "B", "A"});
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double dx = x - centre, dy = y - centre;
      const float inside = dx * dx + dy * dy <= radius * radius ? 1.0f : 0.0f;
      std::fill_n(img.At(x, y), 4, inside);
    }
  return img;
}

// Eight by eight checks, red rising with u and green with v, so that any
// placement shows which way the texture runs.
FloatImage CheckerTexture() {
  const int size = 512, checks = 8;
  FloatImage img(size, size, {"R", "G", "B", "A"});
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
      const bool light = ((x * checks / size) + (y * checks / size)) % 2 == 0;
      float* px = img.At(x, y);
      if (light) {
        px[0] = 0.15f + 0.85f * u, px[1] = 0.15f + 0.85f * v, px[2] = 0.75f;
      } else {
        px[0] = 0.2f * u, px[1] = 0.2f * v, px[2] = 0.1f;
      }
      px[3] = 1.0f;
    }
  return img;
}

float Encode(float linear) {  // to display values, as an sRGB display shows them
  const float c = std::clamp(linear, 0.0f, 1.0f);
  return c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1 / 2.4f) - 0.055f;
}

}  // namespace

std::vector<ScenePass> RenderScenePasses() {
  const Scene scene;
  const Camera camera(CameraPosition), next(CameraPosition + CameraMove);
  FloatImage depth(SceneWidth, SceneHeight, {"Z"});
  FloatImage position(SceneWidth, SceneHeight, {"R", "G", "B"});
  FloatImage normal(SceneWidth, SceneHeight, {"R", "G", "B"});
  FloatImage normal01(SceneWidth, SceneHeight, {"R", "G", "B"});
  FloatImage uv(SceneWidth, SceneHeight, {"R", "G", "B"});
  FloatImage motion(SceneWidth, SceneHeight, {"R", "G", "B"});
  for (int y = 0; y < SceneHeight; ++y)
    for (int x = 0; x < SceneWidth; ++x) {
      const auto hit = scene.Trace(camera.eye, camera.Ray(x, y));
      if (!hit) continue;  // the wall closes the view: every ray hits something
      depth.At(x, y)[0] = static_cast<float>(camera.Depth(hit->point));
      Store(position.At(x, y), hit->point);
      Store(normal.At(x, y), hit->normal);
      Store(normal01.At(x, y), hit->normal * 0.5 + Vec{0.5, 0.5, 0.5});
      Store(uv.At(x, y), {hit->u, hit->v, 0});
      // Motion in pixels, x to the right and y down the rows, from where the
      // point is now to where it will be seen in the next frame.
      double nowX, nowY, thenX, thenY;
      camera.Project(hit->point, nowX, nowY);
      next.Project(hit->point + scene.Motion(*hit), thenX, thenY);
      Store(motion.At(x, y), {thenX - nowX, thenY - nowY, 0});
    }

  const Vec half{EyeSeparation / 2, 0, 0};
  std::vector<ScenePass> passes;
  passes.push_back({"beauty", Beauty(scene, camera), PreviewKind::Colour});
  passes.push_back({"depth", std::move(depth), PreviewKind::Depth});
  passes.push_back({"position", std::move(position), PreviewKind::Position});
  passes.push_back({"normal", std::move(normal), PreviewKind::Signed});
  passes.push_back({"normal01", std::move(normal01), PreviewKind::Plain});
  passes.push_back({"uv", std::move(uv), PreviewKind::Plain});
  passes.push_back({"motion", std::move(motion), PreviewKind::Motion});
  passes.push_back({"left", Beauty(scene, Camera(CameraPosition - half)), PreviewKind::Colour});
  passes.push_back({"right", Beauty(scene, Camera(CameraPosition + half)), PreviewKind::Colour});
  passes.push_back({"kernel", DiscKernel(), PreviewKind::Plain});
  passes.push_back({"texture", CheckerTexture(), PreviewKind::Plain});
  return passes;
}

FloatImage PreviewOf(const FloatImage& pass, PreviewKind kind) {
  const int channels = static_cast<int>(pass.channels.size());
  float largestMotion = 1e-6f;
  if (kind == PreviewKind::Motion)
    for (size_t i = 0; i < pass.pixels.size(); ++i)
      if (std::isfinite(pass.pixels[i]))
        largestMotion = std::max(largestMotion, std::fabs(pass.pixels[i]));

  FloatImage preview(pass.width, pass.height, {"R", "G", "B"});
  for (int y = 0; y < pass.height; ++y)
    for (int x = 0; x < pass.width; ++x) {
      const float* src = pass.At(x, y);
      float* dst = preview.At(x, y);
      for (int c = 0; c < 3; ++c) {
        const float v = src[std::min(c, channels - 1)];  // one channel shows as grey
        switch (kind) {
          case PreviewKind::Colour:
            dst[c] = Encode(v);
            break;
          case PreviewKind::Depth:
            dst[c] = v / static_cast<float>(SceneFarWall);
            break;
          case PreviewKind::Position: {
            static const float low[3] = {-10, 0, -40}, high[3] = {10, 4, 0};
            dst[c] = (v - low[c]) / (high[c] - low[c]);
            break;
          }
          case PreviewKind::Signed:
            dst[c] = 0.5f * v + 0.5f;
            break;
          case PreviewKind::Motion:
            dst[c] = 0.5f + 0.5f * v / largestMotion;
            break;
          case PreviewKind::Plain:
            dst[c] = v;
            break;
        }
        dst[c] = std::isnan(dst[c]) ? 0.0f : std::clamp(dst[c], 0.0f, 1.0f);
      }
    }
  return preview;
}
