#pragma once

// Plain integer geometry shared by every layer. Rectangles are (left, top, right, bottom) with
// right and bottom outside the rectangle; OpenCV calls get (x, y, w, h) = (left, top, r-l, b-t).

struct CPoint {
    int x = 0;
    int y = 0;

    friend bool operator==(const CPoint& a, const CPoint& b) { return a.x == b.x && a.y == b.y; }
    friend bool operator!=(const CPoint& a, const CPoint& b) { return !(a == b); }
    friend CPoint operator-(const CPoint& a, const CPoint& b) { return {a.x - b.x, a.y - b.y}; }
    friend CPoint operator+(const CPoint& a, const CPoint& b) { return {a.x + b.x, a.y + b.y}; }
};

struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CPoint TopLeft() const { return {left, top}; }
    bool IsNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    // Half-open containment: the right and bottom edges lie outside.
    bool Contains(const CPoint& p) const {
        return left <= p.x && p.x < right && top <= p.y && p.y < bottom;
    }
    CRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }

    friend bool operator==(const CRect& a, const CRect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
    friend bool operator!=(const CRect& a, const CRect& b) { return !(a == b); }
};
