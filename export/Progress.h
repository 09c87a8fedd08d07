#pragma once

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>

// Progress on stderr, counted in frames. On a terminal: one bar line redrawn in place (frames
// read of frames to read, rate, time left). Otherwise (a log file, a pipe): the same figures on a
// line of their own every few seconds, and one line per finished video.
//
// Threading: AddFrames may be called from any worker; everything else runs on the main thread,
// which alone writes to the stream.
class CExportProgress {
  public:
    CExportProgress(std::ostream& err, bool terminal);

    void Start(long long framesToRead);
    void AddFrames(long long frames) { m_done.fetch_add(frames, std::memory_order_relaxed); }
    // Redraws the bar, or writes a progress line, when it is due.
    void Tick();
    // A line about a finished video (none when empty); on a terminal it goes above the bar.
    void VideoLine(const std::string& line);
    // Leaves the finished bar on its own line, before the summary.
    void Finish();

    long long Done() const { return m_done.load(std::memory_order_relaxed); }

  private:
    std::string Status() const;
    void Draw();
    void Clear();

    std::ostream& m_err;
    bool m_terminal;
    long long m_total = 0;
    std::atomic<long long> m_done{0};
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
    bool m_barShown = false;
    size_t m_shownWidth = 0;
};

// "1:05" / "1:02:03".
std::string FormatDuration(double seconds);
