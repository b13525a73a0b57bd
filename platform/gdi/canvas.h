#pragma once
// A drawing surface in the framework's model: a pen for outlines and lines, a
// brush for interiors, a font for text, and GDI's pixel rules (rectangles
// exclude their right and bottom edges, a line excludes its last point).
// Shapes are drawn without antialiasing so that pixels are exact; text is
// drawn with the font's quality.
//
// A canvas made here owns an off-screen image (new pixels are black). The
// window toolkit wraps the surfaces of its windows (canvas_cairo.h).
#include <memory>
#include <span>
#include <string>

#include "platform/gdi/bitmap.h"
#include "platform/gdi/color.h"
#include "platform/gdi/font.h"
#include "platform/gdi/geometry.h"

namespace gdi {

enum class PenStyle { psSolid, psDash, psDot, psClear };
enum class BrushStyle { bsSolid, bsClear };

struct TPen {
    TColor Color = clBlack;
    int Width = 1;
    PenStyle Style = PenStyle::psSolid;
};

struct TBrush {
    TColor Color = clWhite;
    BrushStyle Style = BrushStyle::bsSolid;
};

// How CopyRect combines source pixels with the destination.
enum class CopyMode {
    cmSrcCopy,   // destination = source
    cmSrcInvert, // destination = destination XOR source
    cmSrcAnd,    // destination = destination AND source
    cmSrcPaint,  // destination = destination OR source
};

struct CanvasImpl;
class CairoAccess;

class Canvas {
public:
    // An off-screen canvas of the given size, black. Negative sizes count as 0.
    Canvas(int width, int height);
    // An off-screen canvas holding a copy of the bitmap.
    explicit Canvas(const Bitmap& bitmap);
    ~Canvas();
    // A canvas moved from may only be destroyed or assigned to.
    Canvas(Canvas&&) noexcept;
    Canvas& operator=(Canvas&&) noexcept;
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int Width() const;
    int Height() const;
    TRect ClipRect() const; // the area drawing reaches, in canvas coordinates

    // A canvas on the same surface whose origin is rect's top-left corner and
    // whose drawing stays inside rect (a child control's area, for one).
    // Pen, brush and font start at their defaults. Must not outlive this canvas.
    Canvas SubCanvas(const TRect& rect) const;

    // Changes the size of an off-screen canvas, keeping the pixels that stay
    // inside; new pixels are black. Throws rtl::Exception on a wrapped surface.
    void SetSize(int width, int height);

    TPen Pen;
    TBrush Brush;
    TFont Font;

    // Rectangles and shapes. Rectangle, Ellipse, Pie, Chord and Polygon fill
    // with the brush (unless bsClear) and outline with the pen (unless psClear).
    void FillRect(const TRect& rect);  // brush only
    void FrameRect(const TRect& rect); // 1-pixel frame in the brush colour
    void Rectangle(int left, int top, int right, int bottom);
    void Rectangle(const TRect& rect) { Rectangle(rect.Left, rect.Top, rect.Right, rect.Bottom); }
    void Ellipse(int left, int top, int right, int bottom);
    void Ellipse(const TRect& rect) { Ellipse(rect.Left, rect.Top, rect.Right, rect.Bottom); }
    // The part of the ellipse in the bounding box going counter-clockwise
    // (on screen) from the ray through (x1, y1) to the ray through (x2, y2);
    // the whole ellipse when both rays coincide.
    void Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
    void Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
    void Chord(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
    void Polygon(std::span<const TPoint> points);
    void Polyline(std::span<const TPoint> points);
    void MoveTo(int x, int y);
    void LineTo(int x, int y); // from the pen position; excludes (x, y)
    TPoint PenPos() const;

    void SetPixel(int x, int y, TColor color);
    TColor Pixel(int x, int y) const; // clNone outside the canvas

    // Text, UTF-8. The top-left corner of the text's cell is at (x, y); with a
    // solid brush the cell is filled with the brush colour first.
    void TextOut(int x, int y, const std::string& text);
    // As TextOut, clipped to rect.
    void TextRect(const TRect& rect, int x, int y, const std::string& text);
    TSize TextExtent(const std::string& text) const;
    int TextWidth(const std::string& text) const { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) const { return TextExtent(text).cy; }

    // Clipping: drawing is limited to a rectangle (initially the whole canvas).
    void IntersectClipRect(const TRect& rect);
    void ResetClip();

    // Copies source's srcRect onto destRect of this canvas. With cmSrcCopy
    // the picture is scaled when the sizes differ; the other modes combine
    // pixel by pixel and use the smaller of the two sizes.
    void CopyRect(const TRect& destRect, const Canvas& source, const TRect& srcRect,
                  CopyMode mode = CopyMode::cmSrcCopy);
    // Copies the whole of source with its top-left corner at (x, y).
    void Draw(int x, int y, const Canvas& source, CopyMode mode = CopyMode::cmSrcCopy);
    void Draw(int x, int y, const Bitmap& bitmap, CopyMode mode = CopyMode::cmSrcCopy);

    // The pixels of rect (clipped to the canvas) as a 24-bit bitmap.
    Bitmap ToBitmap(const TRect& rect) const;
    Bitmap ToBitmap() const { return ToBitmap(TRect{0, 0, Width(), Height()}); }

    // Writes the canvas as a PNG file; throws rtl::Exception on failure.
    void SaveToPng(const std::string& path) const;

    // Pushes pending drawing to the surface (needed before a window shows it).
    void Flush();

private:
    friend class CairoAccess;
    explicit Canvas(std::unique_ptr<CanvasImpl> impl);
    std::unique_ptr<CanvasImpl> impl_;
    TPoint penPos_;
};

} // namespace gdi
