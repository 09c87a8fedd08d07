#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/platform/IDialogWindow.h"

class CLabelManager;

// What one pixel column along the frame slider shows.
enum class SliderMark : std::uint8_t { None = 0, Labelled = 1, CurrentLabel = 2 };

// Pixel geometry of a slider with positions 0..frames (the top position lies one past the last
// frame) whose handle centre travels `span` pixels from the first position to the last.
//
// Frame f stands at ColumnOf(f), rounded as the slider places its handle, so a mark sits under
// the handle whenever the handle shows that frame. A column covers the frames standing on it and
// also the position the slider picks for a click there; where frames are sparser than pixels
// that makes consecutive frames meet, so a labelled stretch reads as one bar.
struct SliderScale {
    int frames = 0;
    int span = 0;

    int ColumnOf(int frame) const;
    // The position nearest to a column (what a click there selects).
    int PositionAt(int column) const;
    // The frames a column covers: FirstFrameOf > LastFrameOf when it covers none (near the top
    // position, which is no frame). Both grow with the column.
    int FirstFrameOf(int column) const;
    int LastFrameOf(int column) const;
};

// The first frame at or after `from` that holds what is being marked, or -1.
using FrameFinder = std::function<int(int from)>;

// Raises to `mark` every column in 0..span that covers a frame `next` reports; a column keeps
// the higher mark. `columns` must hold span + 1 entries. It asks `next` about once per marked
// column and once per gap, never once per frame, so a long video with many labels costs no more
// than the slider has pixels.
void MarkSliderColumns(const SliderScale& scale, const FrameFinder& next, SliderMark mark,
                       std::vector<SliderMark>& columns);

// The marks the main window's frame slider shows: which columns hold labelled frames and which
// of them hold the current label's. Owned by the main dialog, read by its window when it paints
// the slider (see IDialogWindow::SetSliderMarks); user-interface thread only.
//
// Columns are computed for the span the window asks for and kept until the store's revision,
// the current label, the frame count or the span changes, so a step, which changes none of
// them, costs a comparison.
class CSliderMarks {
  public:
    // The slider's top position (the frame count); 0 when no video is open.
    void SetFrameCount(int frames) { m_nFrames = frames; }
    int GetFrameCount() const { return m_nFrames; }
    // Follows this store (not owned; null marks nothing) with the current label drawn in
    // `currentColor`. True when what the marks show may differ from the previous call, that is
    // when the window should paint them again.
    bool Follow(const CLabelManager* store, const Rgb& currentColor);
    Rgb CurrentColor() const { return m_currentColor; }

    // One entry per column 0..span (span below 0 gives none).
    const std::vector<SliderMark>& Columns(int span);
    // How often Columns had to compute rather than hand back what it had.
    int Recomputations() const { return m_nRecomputations; }

  private:
    struct State {
        const CLabelManager* store = nullptr;
        unsigned long long revision = 0;
        int label = 0;
        int frames = 0;
        friend bool operator==(const State& a, const State& b) {
            return a.store == b.store && a.revision == b.revision && a.label == b.label &&
                   a.frames == b.frames;
        }
    };
    State Current() const;

    const CLabelManager* m_pStore = nullptr;
    int m_nFrames = 0;
    Rgb m_currentColor;
    State m_followed;  // what the last Follow saw
    bool m_bFollowedOnce = false;

    State m_computed;  // what m_columns was computed from
    int m_nComputedSpan = -1;
    std::vector<SliderMark> m_columns;
    int m_nRecomputations = 0;
};
