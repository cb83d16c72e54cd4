#pragma once

// Line rasterisation as free functions over a pixel or span callback, so the
// rules can be tested without a bitmap. Both clip to `clip` before they loop:
// their cost is the number of pixels inside the clip, never the length of the
// line or the size of the width, and no input in the int range overflows.

#include "function_ref.h"
#include "geometry.h"

namespace raster {

using PlotFn = FunctionRef<void(int x, int y)>;
// Row y, pixels x0 <= x < x1.
using SpanFn = FunctionRef<void(int y, int x0, int x1)>;

// The one-pixel line from p to q: p drawn, q not (p == q draws nothing). The
// pixels of p->q and q->p are the same apart from that end-point rule.
void thinLine(Point p, Point q, const Rect &clip, PlotFn plot);

// A stroke of the given width (>= 2) centred on p->q with round ends: every
// pixel whose centre lies within width/2 of the segment (boundary included).
// For an odd width the segment joins the centres of pixels p and q; for an
// even width it joins their top-left corners, so that a stroke of width w is
// w pixels across either way. Each end point is covered by a disc of diameter
// `width`. Rows come top to bottom, one span each (the shape is convex).
void wideLine(Point p, Point q, int width, const Rect &clip, SpanFn span);

} // namespace raster
