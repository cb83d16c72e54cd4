#include "tpicture.h"

#include <utility>

#include "tcanvas.h"

TCanvas &TPicture::CanvasFor(int controlWidth, int controlHeight)
{
    if (!bitmap_) {
        // Width first, then height, as a control sizes a new bitmap: the
        // result is white all over. Should either fail, the picture stays
        // empty and the next request tries again.
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetWidth(controlWidth);
        bitmap->SetHeight(controlHeight);
        adopt(std::move(bitmap));
    }
    return bitmap_->Canvas();
}

TBitmap &TPicture::Bitmap()
{
    if (bitmap_)
        return *bitmap_;
    if (!placeholder_)
        placeholder_ = std::make_unique<TBitmap>();
    return *placeholder_;
}

void TPicture::adopt(std::unique_ptr<TBitmap> bitmap)
{
    bitmap_ = std::move(bitmap);
    bitmap_->OnChange = [this](const Rect &area) {
        if (OnChange)
            OnChange(area);
    };
}
