#pragma once
// Colour reduction of a screenshot: an octree of the picture's colours with
// at most 256 leaves, and the mapping of every pixel to the nearest colour of
// the table made from it. Not signal-safe (it allocates).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace crashreport::screenshot {

struct TRgb {
    std::uint8_t R = 0, G = 0, B = 0;
    friend bool operator==(const TRgb&, const TRgb&) = default;
};

inline constexpr int kPaletteSize = 256;
using TPalette = std::array<TRgb, kPaletteSize>;

// The tree has levels 0 (root) to 8. A pixel walks down by one bit of each
// component per level (bit 7 at level 0); nodes at level 8 are leaves, and
// so is every node whose children were merged into it. After every pixel
// the deepest reducible node is merged while there are more than 256
// leaves, so the tree never holds more than 257.
class TOctree {
public:
    TOctree();

    void Add(std::uint8_t r, std::uint8_t g, std::uint8_t b);
    // Pixels as 0x00RRGGBB.
    void AddPixels(const std::uint32_t* pixels, std::size_t count);

    int LeafCount() const { return leaves_; }
    // One colour per leaf, depth-first with children in order 0 to 7; each
    // is the mean of the pixels the leaf counted (integer division).
    std::vector<TRgb> Colors() const;
    // Colors(), the rest of the 256 entries black.
    TPalette Palette(int* used = nullptr) const;

private:
    struct Node {
        bool Leaf = false;
        std::uint64_t Count = 0; // 64-bit sums: a whole 8K screen fits in one leaf
        std::uint64_t SumR = 0, SumG = 0, SumB = 0;
        std::int32_t Next = -1; // next reducible node of the same level
        std::array<std::int32_t, 8> Child;
    };

    std::int32_t NewNode(int level);
    void FreeNode(std::int32_t index);
    void Reduce();
    void CollectColors(std::int32_t index, std::vector<TRgb>& out) const;

    std::vector<Node> nodes_;
    std::vector<std::int32_t> free_;
    std::array<std::int32_t, 9> reducible_;
    std::int32_t root_ = -1;
    int leaves_ = 0;
    // The leaf the last pixel went to, while no merge has moved it.
    std::int32_t lastLeaf_ = -1;
    std::uint32_t lastColor_ = 0;
};

// Maps colours to the index of the nearest table entry (squared distance in
// RGB; the lowest index among equals), so a colour that is in the table maps
// to itself. The table is cut into 16 x 16 x 16 cells; for each cell the
// entries that can be nearest to some colour in it are found once.
class TNearestColor {
public:
    explicit TNearestColor(const TPalette& palette);
    std::uint8_t Map(std::uint32_t rgb);
    // Maps count 0x00RRGGBB pixels to indices.
    void MapPixels(const std::uint32_t* pixels, std::size_t count, std::uint8_t* indices);

private:
    const std::vector<std::uint8_t>& Candidates(unsigned cell);

    TPalette palette_;
    std::vector<std::vector<std::uint8_t>> cells_;
    std::vector<bool> cellReady_;
};

} // namespace crashreport::screenshot
