// The per-pixel math of the screen-space ambient occlusion: decoding the
// normal pass, the random turn of the sample pattern, and what one sample
// adds to a pixel's occlusion.
#pragma once

#include <cmath>

struct Vec3f {
  float x, y, z;
};

struct Vec2d {
  double x, y;
};

// A normal stored as 0 .. 1 per channel, decoded to -1 .. 1 and made unit
// length; the zero vector stays zero.
inline Vec3f DecodeNormal(float r, float g, float b) {
  Vec3f n{2 * r - 1, 2 * g - 1, 2 * b - 1};
  const float len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  if (len != 0) n = {n.x / len, n.y / len, n.z / len};
  return n;
}

// The unit vector that turns a pixel's sample pattern, from two draws of the
// generator (0 .. 32767): each draw becomes a value in [0.45, 0.55), the
// second giving x and the first y, then -0.1 .. 0.1, then unit length.
inline Vec2d RandomTurn(int first, int second) {
  const double a = 0.45 + first * 3.0517578125e-5 * 0.10000000000000003;
  const double b = 0.45 + second * 3.0517578125e-5 * 0.10000000000000003;
  Vec2d r{2 * b - 1, 2 * a - 1};
  const float len = static_cast<float>(std::sqrt(r.x * r.x + r.y * r.y));
  if (len != 0) r = {r.x / len, r.y / len};
  return r;
}

// v mirrored across the line at right angles to r.
inline Vec2d Reflect(Vec2d v, Vec2d r) {
  const double twice = 2 * (v.x * r.x + v.y * r.y);
  return {v.x - twice * r.x, v.y - twice * r.y};
}

// What the surface point q adds to the occlusion of the point p with unit
// normal n: how far q lies in front of p's normal, less the bias and never
// below 0, attenuated by distance.
inline double OcclusionOf(Vec3f p, Vec3f n, Vec3f q, double scale, double bias, double intensity) {
  const Vec3f diff{q.x - p.x, q.y - p.y, q.z - p.z};
  const float length = std::sqrt(diff.x * diff.x + diff.y * diff.y + diff.z * diff.z);
  const float distance = static_cast<float>(length * scale);
  // Written without branches so that many samples are worked at once: a
  // length of 0 divides by 1, which leaves the difference as it is.
  const float divisor = length != 0 ? length : 1.0f;
  const Vec3f w{diff.x / divisor, diff.y / divisor, diff.z / divisor};
  double t = static_cast<double>(n.x * w.x + n.y * w.y + n.z * w.z) - bias;
  t = t < 0 ? 0 : t;  // a t that is not a number stays so
  return (1.0 / (distance + 1.0)) * t * intensity;
}
