#pragma once

#include "color_ref.h"
#include "geometry.h"

class TBitmap;

// The pen lines are drawn with: solid, copy mode.
class TPen {
public:
    ColorRef Color() const { return color_; }
    void SetColor(ColorRef c) { color_ = c; }
    int Width() const { return width_; }
    // A negative width is ignored; 0 is kept and draws like 1.
    void SetWidth(int w)
    {
        if (w >= 0)
            width_ = w;
    }

private:
    ColorRef color_ = clBlack;
    int width_ = 1;
};

// Draws on one bitmap. Every drawing operation (LineTo, SetPixel, Draw) sends
// the bitmap's changing signal first and its change notification after, with
// the rectangle it changed. Everything clips to the bitmap before it loops, so
// the cost of an operation is the number of pixels it changes.
class TCanvas {
public:
    explicit TCanvas(TBitmap &bitmap) : bitmap_(bitmap) {}
    TCanvas(const TCanvas &) = delete;
    TCanvas &operator=(const TCanvas &) = delete;

    TPen &Pen() { return pen_; }
    const TPen &Pen() const { return pen_; }
    // The current position; (0, 0) on a new canvas, kept for its whole life.
    Point PenPos() const { return penPos_; }

    void MoveTo(int x, int y);
    // A line with the pen from the current position to (x, y), which becomes
    // the current position. Width 0 or 1: one pixel wide, the start point
    // drawn and the end point not. Width 2 or more: a stroke of that width
    // centred on the segment with round ends covering both end points.
    void LineTo(int x, int y);
    // Pixel (x, y) := c, when it lies inside; outside nothing changes.
    void SetPixel(int x, int y, ColorRef c);
    // Copies source 1:1 with its top-left pixel at (x, y), clipped. An empty
    // source does nothing and notifies nobody.
    void Draw(int x, int y, const TBitmap &source);

    // The bitmap as the destination of a block copy from outside the canvas
    // (the screen copy): sends the changing signal and hands the bitmap out.
    TBitmap &BlockCopyTarget();
    // To be called after such a copy with the rectangle it wrote.
    void BlockCopied(const Rect &area);

    TBitmap &Bitmap() { return bitmap_; }

private:
    TBitmap &bitmap_;
    TPen pen_;
    Point penPos_;
};
