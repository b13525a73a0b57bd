#include "crashreport/delivery/screenshot/octree.h"

#include <algorithm>
#include <limits>

namespace crashreport::screenshot {

namespace {
constexpr int kMaxLeaves = 256;
constexpr int kLeafLevel = 8;
} // namespace

TOctree::TOctree()
{
    reducible_.fill(-1);
    nodes_.reserve(2048);
}

std::int32_t TOctree::NewNode(int level)
{
    std::int32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
        nodes_[index] = Node{};
    } else {
        index = static_cast<std::int32_t>(nodes_.size());
        nodes_.emplace_back();
    }
    Node& n = nodes_[index];
    n.Child.fill(-1);
    if (level == kLeafLevel) {
        n.Leaf = true;
        ++leaves_;
    } else {
        n.Next = reducible_[level];
        reducible_[level] = index;
    }
    return index;
}

void TOctree::FreeNode(std::int32_t index)
{
    // Only leaves are freed: the deepest reducible level is merged first,
    // so a merged node's children have no children of their own.
    free_.push_back(index);
}

void TOctree::Add(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    const std::uint32_t color = (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
    if (lastLeaf_ >= 0 && color == lastColor_) {
        Node& leaf = nodes_[lastLeaf_];
        ++leaf.Count;
        leaf.SumR += r;
        leaf.SumG += g;
        leaf.SumB += b;
        return;
    }
    if (root_ < 0) root_ = NewNode(0);
    std::int32_t index = root_;
    bool created = false;
    for (int level = 0;; ++level) {
        if (nodes_[index].Leaf) {
            Node& leaf = nodes_[index];
            ++leaf.Count;
            leaf.SumR += r;
            leaf.SumG += g;
            leaf.SumB += b;
            break;
        }
        const int shift = 7 - level;
        const int c = (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
        std::int32_t child = nodes_[index].Child[c];
        if (child < 0) {
            child = NewNode(level + 1);
            nodes_[index].Child[c] = child;
            created = true;
        }
        index = child;
    }
    lastLeaf_ = index;
    lastColor_ = color;
    if (created) {
        while (leaves_ > kMaxLeaves) Reduce();
    }
}

void TOctree::AddPixels(const std::uint32_t* pixels, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t p = pixels[i];
        Add(static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p));
    }
}

void TOctree::Reduce()
{
    int level = 7;
    while (level > 0 && reducible_[level] < 0) --level;
    const std::int32_t index = reducible_[level];
    if (index < 0) return;
    reducible_[level] = nodes_[index].Next;
    int children = 0;
    std::uint64_t count = 0, r = 0, g = 0, b = 0;
    for (std::int32_t& child : nodes_[index].Child) {
        if (child < 0) continue;
        const Node& c = nodes_[child];
        count += c.Count;
        r += c.SumR;
        g += c.SumG;
        b += c.SumB;
        FreeNode(child);
        child = -1;
        ++children;
    }
    Node& n = nodes_[index];
    n.Leaf = true;
    n.Next = -1;
    n.Count += count;
    n.SumR += r;
    n.SumG += g;
    n.SumB += b;
    leaves_ += 1 - children;
    // The cached leaf may have been merged away.
    lastLeaf_ = -1;
}

void TOctree::CollectColors(std::int32_t index, std::vector<TRgb>& out) const
{
    const Node& n = nodes_[index];
    if (n.Leaf) {
        if (n.Count == 0) {
            out.push_back(TRgb{});
            return;
        }
        out.push_back(TRgb{static_cast<std::uint8_t>(n.SumR / n.Count), static_cast<std::uint8_t>(n.SumG / n.Count),
                           static_cast<std::uint8_t>(n.SumB / n.Count)});
        return;
    }
    for (std::int32_t child : n.Child)
        if (child >= 0) CollectColors(child, out);
}

std::vector<TRgb> TOctree::Colors() const
{
    std::vector<TRgb> out;
    if (root_ >= 0) CollectColors(root_, out);
    return out;
}

TPalette TOctree::Palette(int* used) const
{
    TPalette palette{};
    const std::vector<TRgb> colors = Colors();
    const size_t n = std::min<size_t>(colors.size(), palette.size());
    std::copy_n(colors.begin(), n, palette.begin());
    if (used) *used = static_cast<int>(n);
    return palette;
}

namespace {
constexpr int kCellBits = 4;
constexpr int kCellSide = 1 << (8 - kCellBits); // colour values per cell and component
constexpr unsigned kCells = 1u << (3 * kCellBits);

inline int Square(int v) { return v * v; }

// Squared distance from v to the nearest and the farthest value of [lo, hi].
inline int MinAxis(int v, int lo, int hi) { return v < lo ? Square(lo - v) : v > hi ? Square(v - hi) : 0; }
inline int MaxAxis(int v, int lo, int hi) { return std::max(Square(v - lo), Square(v - hi)); }
} // namespace

TNearestColor::TNearestColor(const TPalette& palette) : palette_(palette), cells_(kCells), cellReady_(kCells, false) {}

const std::vector<std::uint8_t>& TNearestColor::Candidates(unsigned cell)
{
    std::vector<std::uint8_t>& list = cells_[cell];
    if (cellReady_[cell]) return list;
    const int r0 = static_cast<int>((cell >> (2 * kCellBits)) & ((1 << kCellBits) - 1)) * kCellSide;
    const int g0 = static_cast<int>((cell >> kCellBits) & ((1 << kCellBits) - 1)) * kCellSide;
    const int b0 = static_cast<int>(cell & ((1 << kCellBits) - 1)) * kCellSide;
    const int r1 = r0 + kCellSide - 1, g1 = g0 + kCellSide - 1, b1 = b0 + kCellSide - 1;
    // An entry can be the nearest for a colour of the cell only when its
    // least distance to the cell is no more than the greatest distance of
    // the entry that is farthest-bounded best.
    std::array<int, kPaletteSize> minDist;
    int bound = std::numeric_limits<int>::max();
    for (int i = 0; i < kPaletteSize; ++i) {
        const TRgb& p = palette_[i];
        minDist[i] = MinAxis(p.R, r0, r1) + MinAxis(p.G, g0, g1) + MinAxis(p.B, b0, b1);
        bound = std::min(bound, MaxAxis(p.R, r0, r1) + MaxAxis(p.G, g0, g1) + MaxAxis(p.B, b0, b1));
    }
    for (int i = 0; i < kPaletteSize; ++i)
        if (minDist[i] <= bound) list.push_back(static_cast<std::uint8_t>(i));
    cellReady_[cell] = true;
    return list;
}

std::uint8_t TNearestColor::Map(std::uint32_t rgb)
{
    const int r = static_cast<int>((rgb >> 16) & 0xFF), g = static_cast<int>((rgb >> 8) & 0xFF),
              b = static_cast<int>(rgb & 0xFF);
    const unsigned cell = (static_cast<unsigned>(r >> (8 - kCellBits)) << (2 * kCellBits)) |
        (static_cast<unsigned>(g >> (8 - kCellBits)) << kCellBits) | static_cast<unsigned>(b >> (8 - kCellBits));
    std::uint8_t best = 0;
    int bestDist = std::numeric_limits<int>::max();
    for (std::uint8_t i : Candidates(cell)) {
        const TRgb& p = palette_[i];
        const int d = Square(p.R - r) + Square(p.G - g) + Square(p.B - b);
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

void TNearestColor::MapPixels(const std::uint32_t* pixels, std::size_t count, std::uint8_t* indices)
{
    std::uint32_t last = 0;
    std::uint8_t lastIndex = 0;
    bool haveLast = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t p = pixels[i] & 0xFFFFFFu;
        if (!haveLast || p != last) {
            last = p;
            lastIndex = Map(p);
            haveLast = true;
        }
        indices[i] = lastIndex;
    }
}

} // namespace crashreport::screenshot
