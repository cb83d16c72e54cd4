#pragma once

// Integer points and rectangles in pixel coordinates: x to the right, y down.
struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point &, const Point &) = default;
};

// A half-open rectangle: left <= x < right, top <= y < bottom.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool isEmpty() const { return right <= left || bottom <= top; }
    int width() const { return isEmpty() ? 0 : right - left; }
    int height() const { return isEmpty() ? 0 : bottom - top; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    Rect united(const Rect &o) const
    {
        if (isEmpty())
            return o;
        if (o.isEmpty())
            return *this;
        return {left < o.left ? left : o.left, top < o.top ? top : o.top,
                right > o.right ? right : o.right, bottom > o.bottom ? bottom : o.bottom};
    }
    Rect intersected(const Rect &o) const
    {
        Rect r{left > o.left ? left : o.left, top > o.top ? top : o.top,
               right < o.right ? right : o.right, bottom < o.bottom ? bottom : o.bottom};
        return r.isEmpty() ? Rect{} : r;
    }
    friend bool operator==(const Rect &, const Rect &) = default;
};
