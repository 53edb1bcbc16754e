#include "win32/forms/activity_indicator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace vtl::win32 {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kTrackOpacity = 0.25f;  // the faint full shape behind sectors and rings

// Opacity of each pixel; shapes are given by signed distance functions
// (negative inside), and one pixel across each edge is blended.
class Coverage {
 public:
  explicit Coverage(int size) : size_(size), alpha_(static_cast<size_t>(size) * size, 0.0f) {}

  template <typename Distance>
  void Fill(const Distance& distance, float opacity, float left = 0, float top = 0, float right = 1e9f,
            float bottom = 1e9f) {
    const int x0 = std::max(0, static_cast<int>(std::floor(left)) - 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(top)) - 1);
    const int x1 = std::min(size_, static_cast<int>(std::ceil(std::min(right, 1e6f))) + 1);
    const int y1 = std::min(size_, static_cast<int>(std::ceil(std::min(bottom, 1e6f))) + 1);
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const float inside = std::clamp(0.5f - distance(x + 0.5f, y + 0.5f), 0.0f, 1.0f) * opacity;
        float& alpha = alpha_[static_cast<size_t>(y) * size_ + x];
        alpha = std::max(alpha, inside);
      }
    }
  }

  float At(size_t index) const { return alpha_[index]; }

 private:
  int size_;
  std::vector<float> alpha_;
};

// Distance to a pie slice of `radius` around the origin, centred on the
// direction `direction` (radians clockwise from 12 o'clock), `halfAngle` wide
// on each side.
float PieDistance(float dx, float dy, float direction, float halfAngle, float radius) {
  const float along = dx * std::sin(direction) - dy * std::cos(direction);
  const float across = std::abs(dx * std::cos(direction) + dy * std::sin(direction));
  const float sine = std::sin(halfAngle), cosine = std::cos(halfAngle);
  const float toCircle = std::hypot(across, along) - radius;
  const float projection = std::clamp(across * sine + along * cosine, 0.0f, radius);
  const float toEdge = std::hypot(across - sine * projection, along - cosine * projection);
  return std::max(toCircle, cosine * across - sine * along > 0 ? toEdge : -toEdge);
}

float Turns(double seconds, double period) { return static_cast<float>(std::fmod(seconds / period, 1.0)); }

// Dots chasing each other around a circle: slow at the top, where they
// gather, and fast at the bottom, where they spread.
void DrawMomentumDots(Coverage& coverage, float size, double seconds) {
  constexpr int kDots = 5;
  constexpr float kSpacing = 0.1f;    // phase between neighbouring dots
  constexpr float kMomentum = 0.65f;  // 0 turns evenly, 1 stops at the top
  const float centre = size / 2, orbit = size * 0.4f, radius = size * 0.05f;
  const float phase = Turns(seconds, 1.8);
  for (int dot = 0; dot < kDots; ++dot) {
    const float p = phase - dot * kSpacing + 1.0f;
    const float angle = 2 * kPi * p - kMomentum * std::sin(2 * kPi * p);
    const float x = centre + orbit * std::sin(angle), y = centre - orbit * std::cos(angle);
    coverage.Fill([&](float px, float py) { return std::hypot(px - x, py - y) - radius; }, 1.0f, x - radius,
                  y - radius, x + radius, y + radius);
  }
}

// A quarter of a disc turning over the faint disc.
void DrawRotatingSector(Coverage& coverage, float size, double seconds) {
  const float centre = size / 2, radius = size * 0.42f;
  const float direction = 2 * kPi * Turns(seconds, 1.2);
  coverage.Fill([&](float x, float y) { return std::hypot(x - centre, y - centre) - radius; }, kTrackOpacity);
  const auto wedge = [&](float x, float y) { return PieDistance(x - centre, y - centre, direction, kPi / 4, radius); };
  coverage.Fill(wedge, 1.0f);
}

// A quarter of a ring turning over the faint ring.
void DrawSectorRing(Coverage& coverage, float size, double seconds) {
  const float centre = size / 2, middle = size * 0.36f, halfWidth = size * 0.06f;
  const float direction = 2 * kPi * Turns(seconds, 1.0);
  const auto ring = [&](float x, float y) { return std::abs(std::hypot(x - centre, y - centre) - middle) - halfWidth; };
  coverage.Fill(ring, kTrackOpacity);
  coverage.Fill(
      [&](float x, float y) {
        return std::max(ring(x, y), PieDistance(x - centre, y - centre, direction, kPi / 4, size));
      },
      1.0f);
}

}  // namespace

void DrawActivityIndicatorFrame(std::span<uint32_t> pixels, int size, TActivityIndicatorType type,
                                COLORREF foreground, COLORREF background, double seconds) {
  if (size <= 0 || pixels.size() < static_cast<size_t>(size) * size) return;
  Coverage coverage(size);
  switch (type) {
    case TActivityIndicatorType::RotatingSector: DrawRotatingSector(coverage, static_cast<float>(size), seconds); break;
    case TActivityIndicatorType::SectorRing: DrawSectorRing(coverage, static_cast<float>(size), seconds); break;
    case TActivityIndicatorType::MomentumDots: DrawMomentumDots(coverage, static_cast<float>(size), seconds); break;
  }
  const auto blend = [](COLORREF over, COLORREF under, int shift, float alpha) {
    const float a = static_cast<float>((over >> shift) & 0xFF), b = static_cast<float>((under >> shift) & 0xFF);
    return static_cast<uint32_t>(std::lround(b + (a - b) * alpha));
  };
  for (size_t i = 0; i < static_cast<size_t>(size) * size; ++i) {
    const float alpha = coverage.At(i);
    pixels[i] = blend(foreground, background, 0, alpha) << 16 | blend(foreground, background, 8, alpha) << 8 |
                blend(foreground, background, 16, alpha);
  }
}

}  // namespace vtl::win32
