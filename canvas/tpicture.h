#pragma once

#include <functional>
#include <memory>

#include "geometry.h"
#include "tbitmap.h"

class TCanvas;

// The picture a picture control owns. It holds no bitmap until the control's
// canvas is first asked for; then a white bitmap of the control's size at that
// moment is made, and every later request returns the same canvas.
class TPicture {
public:
    TPicture() = default;
    // The bitmap's change notification points back at this picture.
    TPicture(const TPicture &) = delete;
    TPicture &operator=(const TPicture &) = delete;

    bool Empty() const { return bitmap_ == nullptr; }
    // The canvas of the picture's bitmap, creating the bitmap at
    // controlWidth x controlHeight (white) if there is none yet.
    TCanvas &CanvasFor(int controlWidth, int controlHeight);
    // The picture's bitmap; an empty (0 x 0) bitmap takes its place if there
    // is none.
    TBitmap &Bitmap();
    // Passed on from the bitmap's change notification.
    std::function<void(const Rect &)> OnChange;

private:
    void adopt(std::unique_ptr<TBitmap> bitmap);
    std::unique_ptr<TBitmap> bitmap_;
    // What Bitmap() hands out while there is no bitmap. It is not adopted, so
    // the first CanvasFor still makes the picture at the control's size; it
    // is kept, so a reference to it never dangles.
    std::unique_ptr<TBitmap> placeholder_;
};
