#include "platform/avifile/msvideo1_encoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace avifile {

namespace {

// 8-bit channel to 5 bits, and back the way decoders expand it.
struct Rgb555Tables {
    uint8_t to5[256];
    int expand[32];
    constexpr Rgb555Tables() : to5(), expand()
    {
        for (int v = 0; v < 32; ++v) expand[v] = (v << 3) | (v >> 2);
        for (int c = 0; c < 256; ++c) {
            int best = 0;
            for (int v = 1; v < 32; ++v) {
                int d = expand[v] - c, e = expand[best] - c;
                if (d * d < e * e) best = v;
            }
            to5[c] = static_cast<uint8_t>(best);
        }
    }
};
constexpr Rgb555Tables kTables;

struct Colour {
    int r, g, b;
};

inline uint16_t Pack(const Colour& c)
{
    return static_cast<uint16_t>((kTables.to5[c.r] << 10) | (kTables.to5[c.g] << 5) | kTables.to5[c.b]);
}
inline Colour Unpack(uint16_t v)
{
    return {kTables.expand[(v >> 10) & 31], kTables.expand[(v >> 5) & 31], kTables.expand[v & 31]};
}
template <class P> inline int Dist(const P& p, const Colour& c)
{
    int dr = p.r - c.r, dg = p.g - c.g, db = p.b - c.b;
    return dr * dr + dg * dg + db * db;
}
inline uint8_t* Put16(uint8_t* out, uint16_t v)
{
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
    return out + 2;
}

// Codes 0x84xx..0x87xx are skip counts, so a one-colour block cannot carry
// colours whose red part is 1; those go out as two equal colours.
inline bool OneColourCodable(uint16_t c) { return (c & 0x7C00) != 0x0400; }

} // namespace

MsVideo1Encoder::MsVideo1Encoder(DWORD quality)
    : threshold_(BlockThreshold(EffectiveQuality(quality, kDefaultQuality))),
      lambda_(ByteWeight(EffectiveQuality(quality, kDefaultQuality)))
{
}

uint32_t MsVideo1Encoder::ByteWeight(DWORD quality)
{
    // What one more byte of a block must save in squared error: 0 at quality
    // 10000 (always the truest coding), 100 at 7500, 1600 at 0.
    const double lost = (10000.0 - std::min<DWORD>(quality, 10000)) / 10000.0;
    return static_cast<uint32_t>(1600.0 * lost * lost + 0.5);
}

uint32_t MsVideo1Encoder::BlockThreshold(DWORD quality)
{
    // Mean squared error per sample from 0 (quality 10000) to 600 (quality 0),
    // growing with the cube of the quality lost: about 3 levels RMS at 7500.
    const double lost = (10000.0 - std::min<DWORD>(quality, 10000)) / 10000.0;
    return static_cast<uint32_t>(48.0 * 600.0 * lost * lost * lost + 0.5);
}

HRESULT MsVideo1Encoder::Begin(const InputFrameFormat& input, std::vector<uint8_t>& outputFormat)
{
    if (input.width % 4 != 0 || input.height % 4 != 0) return AVIERR_BADFORMAT;
    input_ = input;
    output_.resize(MaxFrameBytes());
    gdi::BITMAPINFOHEADER h = CompressedHeader(input, FourCC("MSVC"), 16, 0);
    h.biSizeImage = static_cast<uint32_t>(static_cast<size_t>(input.width) * input.height * 2);
    outputFormat.resize(sizeof h);
    std::memcpy(outputFormat.data(), &h, sizeof h);
    return AVIERR_OK;
}

uint8_t* MsVideo1Encoder::EncodeBlock(const Pixel (&px)[16], uint8_t* out) const
{
    // One colour: the mean.
    int sr = 0, sg = 0, sb = 0;
    for (const Pixel& p : px) sr += p.r, sg += p.g, sb += p.b;
    const uint16_t mean = Pack(Colour{(sr + 8) >> 4, (sg + 8) >> 4, (sb + 8) >> 4});
    const Colour meanColour = Unpack(mean);
    uint32_t err1 = 0;
    for (const Pixel& p : px) err1 += static_cast<uint32_t>(Dist(p, meanColour));
    if (err1 <= threshold_ && OneColourCodable(mean)) return Put16(out, static_cast<uint16_t>(0x8000 | mean));

    // Two colours: two-means, seeded with the brightest and darkest pixels.
    int hi = 0, lo = 0;
    for (int i = 1; i < 16; ++i) {
        int l = px[i].r + 2 * px[i].g + px[i].b;
        if (l > px[hi].r + 2 * px[hi].g + px[hi].b) hi = i;
        if (l < px[lo].r + 2 * px[lo].g + px[lo].b) lo = i;
    }
    Colour ca{px[hi].r, px[hi].g, px[hi].b}, cb{px[lo].r, px[lo].g, px[lo].b};
    for (int iteration = 0; iteration < 2; ++iteration) {
        int na = 0, ar = 0, ag = 0, ab = 0, br = 0, bg = 0, bb = 0;
        for (const Pixel& p : px) {
            if (Dist(p, ca) <= Dist(p, cb)) {
                ++na, ar += p.r, ag += p.g, ab += p.b;
            } else {
                br += p.r, bg += p.g, bb += p.b;
            }
        }
        const int nb = 16 - na;
        if (na) ca = {(ar + na / 2) / na, (ag + na / 2) / na, (ab + na / 2) / na};
        if (nb) cb = {(br + nb / 2) / nb, (bg + nb / 2) / nb, (bb + nb / 2) / nb};
    }
    uint16_t pa = Pack(ca), pb = Pack(cb);
    const Colour da = Unpack(pa), db = Unpack(pb);
    uint32_t mask2 = 0, err2 = 0;
    for (int i = 0; i < 16; ++i) {
        int ea = Dist(px[i], da), eb = Dist(px[i], db);
        if (ea < eb) mask2 |= 1u << i;
        err2 += static_cast<uint32_t>(std::min(ea, eb));
    }

    uint32_t err8 = ~0u;
    uint16_t colours8[8];
    uint32_t mask8 = 0;
    const uint64_t lambda = lambda_;
    const bool oneCodable = OneColourCodable(mean);
    const uint64_t cost1 = err1 + lambda * (oneCodable ? 2 : 6);
    const uint64_t cost2 = err2 + lambda * 6;
    // Eight colours can only pay off when they save more than their 12 extra bytes cost.
    if (err2 > threshold_ && err2 > lambda * 12) {
        // Eight colours: the best split of each 2x2 quadrant into two groups.
        err8 = 0;
        for (int q = 0; q < 4; ++q) {
            const int x0 = (q & 1) * 2, y0 = (q >> 1) * 2;
            const int idx[4] = {y0 * 4 + x0, y0 * 4 + x0 + 1, (y0 + 1) * 4 + x0, (y0 + 1) * 4 + x0 + 1};
            // The split with the least squared error around its two means
            // (12 x error, exact in integers: 12 / n is whole for n <= 4).
            int sq = 0;
            for (int k = 0; k < 4; ++k)
                sq += px[idx[k]].r * px[idx[k]].r + px[idx[k]].g * px[idx[k]].g + px[idx[k]].b * px[idx[k]].b;
            // Splits are subsets of the first three pixels: the last one always
            // takes the second colour (block pixel 15 must). Their sums, each
            // from a smaller subset:
            int sr[8] = {}, sg[8] = {}, sb[8] = {}, sn[8] = {};
            for (uint32_t first = 1; first < 8; ++first) {
                const uint32_t low = first & (0u - first), rest = first & ~low;
                const Pixel& p = px[idx[low == 1 ? 0 : low == 2 ? 1 : 2]];
                sr[first] = sr[rest] + p.r, sg[first] = sg[rest] + p.g, sb[first] = sb[rest] + p.b;
                sn[first] = sn[rest] + 1;
            }
            const int tr = sr[7] + px[idx[3]].r, tg = sg[7] + px[idx[3]].g, tb = sb[7] + px[idx[3]].b;
            int64_t bestScore = INT64_MAX;
            uint32_t best = 0;
            for (uint32_t first = 0; first < 8; ++first) {
                const int n1 = sn[first], n2 = 4 - n1;
                const int r2 = tr - sr[first], g2 = tg - sg[first], b2 = tb - sb[first];
                int64_t score =
                    12 * static_cast<int64_t>(sq) - (12 / n2) * static_cast<int64_t>(r2 * r2 + g2 * g2 + b2 * b2);
                if (n1)
                    score -= (12 / n1) *
                        static_cast<int64_t>(sr[first] * sr[first] + sg[first] * sg[first] + sb[first] * sb[first]);
                if (score < bestScore) bestScore = score, best = first;
            }
            int n1 = 0, r1 = 0, g1 = 0, b1 = 0, r2 = 0, g2 = 0, b2 = 0;
            uint32_t bestMask = 0;
            for (int k = 0; k < 4; ++k) {
                const Pixel& p = px[idx[k]];
                if (best & (1u << k))
                    ++n1, r1 += p.r, g1 += p.g, b1 += p.b, bestMask |= 1u << idx[k];
                else
                    r2 += p.r, g2 += p.g, b2 += p.b;
            }
            const int n2 = 4 - n1;
            const uint16_t bestSecond = Pack(Colour{(r2 + n2 / 2) / n2, (g2 + n2 / 2) / n2, (b2 + n2 / 2) / n2});
            const uint16_t bestFirst =
                n1 ? Pack(Colour{(r1 + n1 / 2) / n1, (g1 + n1 / 2) / n1, (b1 + n1 / 2) / n1}) : bestSecond;
            const Colour d1 = Unpack(bestFirst), d2 = Unpack(bestSecond);
            uint32_t bestErr = 0;
            for (int k = 0; k < 4; ++k)
                bestErr += static_cast<uint32_t>(Dist(px[idx[k]], (best & (1u << k)) ? d1 : d2));
            err8 += bestErr;
            mask8 |= bestMask;
            colours8[q * 2] = bestFirst;
            colours8[q * 2 + 1] = bestSecond;
        }
    }

    const uint64_t cost8 = err8 == ~0u ? ~uint64_t{0} : err8 + lambda * 18;
    // The truest coding for its size: squared error plus the weighted bytes.
    if (cost1 <= cost2 && cost1 <= cost8) {
        if (oneCodable) return Put16(out, static_cast<uint16_t>(0x8000 | mean));
        // A flat colour whose one-colour code reads as a skip code: two equal colours.
        out = Put16(out, 0);
        out = Put16(out, mean);
        return Put16(out, mean);
    }
    if (cost8 < cost2) {
        out = Put16(out, static_cast<uint16_t>(mask8));
        out = Put16(out, static_cast<uint16_t>(colours8[0] | 0x8000));
        for (int i = 1; i < 8; ++i) out = Put16(out, colours8[i]);
        return out;
    }
    // Flag 1 selects the first colour; pixel 15 must take the second one,
    // since the top bit of the mask tells the block codings apart.
    if (mask2 & 0x8000) {
        mask2 = ~mask2 & 0xFFFF;
        std::swap(pa, pb);
    }
    out = Put16(out, static_cast<uint16_t>(mask2));
    out = Put16(out, pa);
    return Put16(out, pb);
}

size_t MsVideo1Encoder::MaxFrameBytes() const
{
    return static_cast<size_t>(input_.width / 4) * static_cast<size_t>(input_.height / 4) * 18 + 2;
}

size_t MsVideo1Encoder::EncodeFrame(const uint8_t* frame, uint8_t* out) const
{
    const int blocksWide = input_.width / 4, blocksHigh = input_.height / 4;
    uint8_t* cursor = out;
    // Blocks and their pixels run from the bottom of the image upwards.
    const uint8_t* bottom = input_.bottomUp ? frame : frame + (static_cast<size_t>(input_.height) - 1) * input_.stride;
    const ptrdiff_t up =
        input_.bottomUp ? static_cast<ptrdiff_t>(input_.stride) : -static_cast<ptrdiff_t>(input_.stride);
    Pixel px[16];
    for (int by = 0; by < blocksHigh; ++by) {
        const uint8_t* rows[4];
        for (int y = 0; y < 4; ++y) rows[y] = bottom + (by * 4 + y) * up;
        for (int bx = 0; bx < blocksWide; ++bx) {
            for (int y = 0; y < 4; ++y) {
                const uint8_t* p = rows[y] + bx * 12;
                for (int x = 0; x < 4; ++x, p += 3) px[y * 4 + x] = {p[2], p[1], p[0]};
            }
            cursor = EncodeBlock(px, cursor);
        }
    }
    cursor = Put16(cursor, 0); // end of frame
    return static_cast<size_t>(cursor - out);
}

HRESULT MsVideo1Encoder::Compress(const uint8_t* frame, FrameSink& sink)
{
    const size_t length = EncodeFrame(frame, output_.data());
    return sink.Put(output_.data(), length, true);
}

} // namespace avifile
