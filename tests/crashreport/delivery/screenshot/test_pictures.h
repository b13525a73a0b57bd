#pragma once
// Pictures for the screenshot tests and benchmark: a photograph-like one
// (smooth fields of several scales, soft edges and fine grain, as a camera
// picture of a scene has) and one of an exact set of colours.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace screenshot_test {

inline std::uint32_t Hash(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// Value noise in [0, 1) on a lattice of the given cell size, smoothly interpolated.
inline double ValueNoise(double x, double y, std::uint32_t seed)
{
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    const double fx = x - xi, fy = y - yi;
    auto at = [seed](int i, int j) {
        return (Hash(static_cast<std::uint32_t>(i) * 73856093u ^ static_cast<std::uint32_t>(j) * 19349663u ^ seed) &
                0xFFFF) /
            65536.0;
    };
    const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const double a = at(xi, yi) + (at(xi + 1, yi) - at(xi, yi)) * sx;
    const double b = at(xi, yi + 1) + (at(xi + 1, yi + 1) - at(xi, yi + 1)) * sx;
    return a + (b - a) * sy;
}

inline double Fractal(double x, double y, std::uint32_t seed)
{
    double sum = 0, amp = 0.5, freq = 1.0 / 256;
    for (int octave = 0; octave < 6; ++octave) {
        sum += amp * ValueNoise(x * freq, y * freq, seed + octave * 101u);
        amp *= 0.5;
        freq *= 2;
    }
    return sum; // about [0, 1)
}

// 0x00RRGGBB pixels, top row first.
inline std::vector<std::uint32_t> PhotoLike(int width, int height)
{
    std::vector<std::uint32_t> px(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // A sky-to-ground gradient, lit by broad shapes, textured and grainy.
            const double t = static_cast<double>(y) / height;
            const double light = 0.55 + 0.6 * (Fractal(x, y, 1) - 0.5);
            const double hue = Fractal(x + 5000, y, 2);
            double r = (0.35 + 0.5 * t) * light + 0.3 * hue;
            double g = (0.45 + 0.2 * (1 - t)) * light + 0.2 * Fractal(x, y + 7000, 3);
            double b = (0.75 - 0.5 * t) * light + 0.15 * (1 - hue);
            // Three lit spheres in front, with hard edges against the scene.
            const double spheres[3][6] = {{0.22, 0.62, 0.16, 0.9, 0.25, 0.2},
                                          {0.55, 0.7, 0.11, 0.95, 0.85, 0.3},
                                          {0.8, 0.45, 0.08, 0.25, 0.45, 0.95}};
            for (const auto& s : spheres) {
                const double dx = (static_cast<double>(x) / height - s[0] * width / height) / (s[2]),
                             dy = (t - s[1]) / (s[2]);
                const double d2 = dx * dx + dy * dy;
                if (d2 < 1) {
                    const double shade = 0.25 + 0.75 * std::max(0.0, std::sqrt(1 - d2) * 0.8 - dx * 0.35 - dy * 0.45);
                    const double spec =
                        std::pow(std::max(0.0, 1 - ((dx + 0.4) * (dx + 0.4) + (dy + 0.4) * (dy + 0.4)) * 4), 3);
                    r = s[3] * shade + spec;
                    g = s[4] * shade + spec;
                    b = s[5] * shade + spec;
                }
            }
            const std::uint32_t h = Hash(static_cast<std::uint32_t>(y * width + x));
            auto channel = [&h](double v, int shift) {
                const int grain = static_cast<int>((h >> shift) & 7) - 3;
                const int c = static_cast<int>(v * 255) + grain;
                return static_cast<std::uint32_t>(c < 0 ? 0 : c > 255 ? 255 : c);
            };
            px[static_cast<size_t>(y) * width + x] = (channel(r, 0) << 16) | (channel(g, 3) << 8) | channel(b, 6);
        }
    }
    return px;
}

// Exactly `count` (at most 256) distinct colours (red tells them apart), none black, in bands of pseudo-random order.
inline std::vector<std::uint32_t> FewColors(int width, int height, int count)
{
    std::vector<std::uint32_t> colors(count);
    for (int i = 0; i < count; ++i)
        colors[i] = (static_cast<std::uint32_t>(i) << 16) | (Hash(static_cast<std::uint32_t>(i) + 17u) & 0xFFFFu) | 1u;
    std::vector<std::uint32_t> px(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) px[static_cast<size_t>(y) * width + x] = colors[(x / 4 + y / 3 * 7) % count];
    return px;
}

// Peak signal-to-noise ratio of b against a over the three channels, in dB.
inline double Psnr(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int s = 0; s <= 16; s += 8) {
            const double d = static_cast<double>((a[i] >> s) & 0xFF) - static_cast<double>((b[i] >> s) & 0xFF);
            sum += d * d;
        }
    const double mse = sum / (3.0 * a.size());
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace screenshot_test
