// Which pixel columns of the frame slider hold labelled frames, and the cache that keeps stepping
// free of any recomputation.

#include "app/SliderMarks.h"

#include <algorithm>
#include <climits>

#include "labels/LabelManager.h"

namespace {

// Above this range the slider places its handle by truncating rather than rounding (its integer
// formula would overflow); the marks follow it there too, or they would drift off the handle.
constexpr long long kTruncatingRange = INT_MAX / 4096;

}  // namespace

int SliderScale::ColumnOf(int frame) const {
    const long long r = frames;
    const long long s = span;
    const long long f = frame;
    if (s <= 0 || r <= 0 || f <= 0) {
        return 0;
    }
    if (f >= r) {
        return span;
    }
    if (r > kTruncatingRange) {
        return static_cast<int>(static_cast<double>(f) / (static_cast<double>(r) / s));
    }
    return static_cast<int>((2 * f * s + r) / (2 * r));
}

int SliderScale::PositionAt(int column) const {
    const long long r = frames;
    const long long s = span;
    const long long c = column;
    if (s <= 0 || r <= 0 || c <= 0) {
        return 0;
    }
    if (c >= s) {
        return frames;
    }
    return static_cast<int>((2 * c * r + s) / (2 * s));
}

namespace {

// The first frame standing on `column` or a later one (frames + 1 past the last column).
long long FirstFrameFromColumn(const SliderScale& scale, long long column) {
    const long long r = scale.frames;
    const long long s = scale.span;
    if (column <= 0) {
        return 0;
    }
    if (column > s) {
        return r + 1;
    }
    if (r <= kTruncatingRange) {
        // ColumnOf(f) >= c  <=>  2fs + r >= 2cr  <=>  f >= (2c - 1)r / 2s
        return ((2 * column - 1) * r + 2 * s - 1) / (2 * s);
    }
    long long lo = 0;
    long long hi = r;  // ColumnOf(r) is the last column, so the answer lies in 0..r
    while (lo < hi) {
        const long long mid = lo + (hi - lo) / 2;
        if (scale.ColumnOf(static_cast<int>(mid)) >= column) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

}  // namespace

int SliderScale::FirstFrameOf(int column) const {
    return static_cast<int>(
        std::min<long long>(FirstFrameFromColumn(*this, column), PositionAt(column)));
}

int SliderScale::LastFrameOf(int column) const {
    const long long last = std::max<long long>(
        FirstFrameFromColumn(*this, static_cast<long long>(column) + 1) - 1, PositionAt(column));
    return static_cast<int>(std::min<long long>(last, static_cast<long long>(frames) - 1));
}

void MarkSliderColumns(const SliderScale& scale, const FrameFinder& next, SliderMark mark,
                       std::vector<SliderMark>& columns) {
    if (scale.frames <= 0 || scale.span < 0 ||
        columns.size() != static_cast<size_t>(scale.span) + 1) {
        return;
    }
    int column = 0;
    while (column <= scale.span) {
        const int first = scale.FirstFrameOf(column);
        if (first >= scale.frames) {
            break;  // only the top position is left, and it is no frame
        }
        const int found = next(first);
        if (found < 0 || found >= scale.frames) {
            break;
        }
        if (found <= scale.LastFrameOf(column)) {
            SliderMark& m = columns[static_cast<size_t>(column)];
            m = std::max(m, mark);
            ++column;
            continue;
        }
        // Nothing here: jump over the gap to the first column that covers the frame found.
        int lo = column + 1;
        int hi = scale.span + 1;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (scale.LastFrameOf(mid) >= found) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        column = lo;
    }
}

bool CSliderMarks::Follow(const CLabelManager* store, const Rgb& currentColor) {
    m_pStore = store;
    const State now = Current();
    const bool changed =
        !m_bFollowedOnce || !(now == m_followed) || !(currentColor == m_currentColor);
    m_followed = now;
    m_bFollowedOnce = true;
    m_currentColor = currentColor;
    return changed;
}

CSliderMarks::State CSliderMarks::Current() const {
    State s;
    s.store = m_pStore;
    s.frames = m_nFrames;
    if (m_pStore != nullptr) {
        s.revision = m_pStore->GetRevision();
        s.label = m_pStore->GetCurLabel();
    }
    return s;
}

const std::vector<SliderMark>& CSliderMarks::Columns(int span) {
    const State now = Current();
    if (span == m_nComputedSpan && now == m_computed) {
        return m_columns;
    }
    ++m_nRecomputations;
    m_computed = now;
    m_nComputedSpan = span;
    m_columns.assign(span >= 0 ? static_cast<size_t>(span) + 1 : 0, SliderMark::None);
    if (m_pStore == nullptr || span < 0 || m_nFrames <= 0) {
        return m_columns;
    }
    const CLabelManager& store = *m_pStore;
    const SliderScale scale{m_nFrames, span};
    MarkSliderColumns(
        scale, [&store](int from) { return store.FirstLabelledFrameFrom(from); },
        SliderMark::Labelled, m_columns);
    const int label = now.label;
    MarkSliderColumns(
        scale, [&store, label](int from) { return store.FirstFrameOfLabelFrom(label, from); },
        SliderMark::CurrentLabel, m_columns);
    return m_columns;
}
