// benchpicture: writes a photograph-like picture as a binary PPM on
// standard output, for a JPEG encoder to compress.
//
//   benchpicture WIDTH HEIGHT [GRAIN]
//
// The scene is fractal value noise (five octaves, scaled to the picture, so
// a larger picture shows the same scene in more detail) for brightness and
// two colour differences, plus per-pixel grain of up to +-GRAIN levels
// (default 12) such as a sensor adds.  The grain keeps the encoded size
// per pixel close to that of a real photograph; a thumbnail is the same
// scene at GRAIN 0.  The output depends on nothing but the arguments.
//
// Rows are made and written one at a time, so memory stays small whatever
// the size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mix.h"

namespace {

// A value in [0, 1) for a lattice point of one noise layer.
double lattice(uint32_t layer, int64_t i, int64_t j) {
  const uint64_t h = mix(uint64_t(layer) * 0x9E3779B97F4A7C15ull ^ uint64_t(i) * 0xC2B2AE3D27D4EB4Full ^
                         uint64_t(j) * 0x165667B19E3779F9ull);
  return static_cast<double>(h >> 11) / 9007199254740992.0;
}

double smooth(double t) { return t * t * (3 - 2 * t); }

// One octave of one layer: the lattice values of the two lattice rows
// around the current picture row, interpolated along the row.
class octave {
 public:
  octave(uint32_t layer, double cell, int width)
      : o_layer(layer), o_cell(cell), o_top(static_cast<size_t>(width / cell) + 3),
        o_bottom(o_top.size()) {}

  void startRow(double y) {
    const double v = y / o_cell;
    const int64_t j = static_cast<int64_t>(v);
    o_fy = smooth(v - static_cast<double>(j));
    for (size_t i = 0; i < o_top.size(); ++i) {
      o_top[i] = lattice(o_layer, static_cast<int64_t>(i), j);
      o_bottom[i] = lattice(o_layer, static_cast<int64_t>(i), j + 1);
    }
  }

  double at(double x) const {
    const double u = x / o_cell;
    const size_t i = static_cast<size_t>(u);
    const double fx = smooth(u - static_cast<double>(i));
    const double top = o_top[i] + (o_top[i + 1] - o_top[i]) * fx;
    const double bottom = o_bottom[i] + (o_bottom[i + 1] - o_bottom[i]) * fx;
    return top + (bottom - top) * o_fy;
  }

 private:
  uint32_t o_layer;
  double o_cell;
  double o_fy = 0;
  std::vector<double> o_top, o_bottom;
};

// Fractal noise in [0, 1): octaves of halving cell size and weight.
class fractal {
 public:
  fractal(uint32_t layer, int width, int height) {
    const double base = (width > height ? width : height) / 3.0;
    double cell = base, weight = 1;
    for (uint32_t k = 0; k < 5; ++k, cell /= 3.2, weight /= 2) {
      if (cell < 2) break;
      f_octaves.emplace_back(layer * 16 + k, cell, width);
      f_weights.push_back(weight);
      f_total += weight;
    }
  }
  void startRow(double y) {
    for (octave& o : f_octaves) o.startRow(y);
  }
  double at(double x) const {
    double sum = 0;
    for (size_t k = 0; k < f_octaves.size(); ++k) sum += f_weights[k] * f_octaves[k].at(x);
    return sum / f_total;
  }

 private:
  std::vector<octave> f_octaves;
  std::vector<double> f_weights;
  double f_total = 0;
};

unsigned char clampByte(double v) {
  return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: benchpicture WIDTH HEIGHT [GRAIN]\n");
    return 2;
  }
  const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
  const int grain = argc > 3 ? std::atoi(argv[3]) : 12;
  if (width < 1 || height < 1 || width > 65535 || height > 65535 || grain < 0 || grain > 100) {
    std::fprintf(stderr, "benchpicture: bad size or grain\n");
    return 2;
  }
  // The scene is laid out on a 1000-unit-wide canvas, whatever the size.
  const int canvasW = 1000, canvasH = static_cast<int>(1000.0 * height / width) + 1;
  fractal light(1, canvasW, canvasH), warm(2, canvasW, canvasH), green(3, canvasW, canvasH);
  const double scale = static_cast<double>(canvasW) / width;

  std::printf("P6\n%d %d\n255\n", width, height);
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    const double cy = y * scale;
    light.startRow(cy);
    warm.startRow(cy);
    green.startRow(cy);
    for (int x = 0; x < width; ++x) {
      const double cx = x * scale;
      const double l = 255 * (light.at(cx) - 0.5) * 1.8 + 128;
      const double a = 120 * (warm.at(cx) - 0.5), b = 120 * (green.at(cx) - 0.5);
      double rgb[3] = {l + a, l - 0.4 * a + 0.5 * b, l - 0.6 * b};
      if (grain) {
        const uint64_t h = mix(uint64_t(y) << 32 ^ uint64_t(x) ^ 0xA5A5A5A5ull);
        for (int c = 0; c < 3; ++c) {
          // The sum of two uniform values: finer grain is more common.
          const int u1 = static_cast<int>((h >> (c * 20)) & 0x3FF) % (grain + 1);
          const int u2 = static_cast<int>((h >> (c * 20 + 10)) & 0x3FF) % (grain + 1);
          rgb[c] += u1 + u2 - grain;
        }
      }
      for (int c = 0; c < 3; ++c) row[static_cast<size_t>(x) * 3 + c] = clampByte(rgb[c]);
    }
    if (std::fwrite(row.data(), 1, row.size(), stdout) != row.size()) {
      std::perror("benchpicture");
      return 1;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
