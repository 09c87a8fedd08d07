#include "export/Progress.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBarWidth = 20;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
// A log or a pipe gets a line this often, so a long video does not look like a hang.
constexpr auto kLinePeriod = std::chrono::seconds(5);

}  // namespace

std::string FormatDuration(double seconds) {
    const long long s = seconds < 0 ? 0 : static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    }
    return text;
}

CExportProgress::CExportProgress(std::ostream& err, bool terminal)
    : m_err(err), m_terminal(terminal) {}

void CExportProgress::Start(long long framesToRead) {
    if (framesToRead <= 0) {
        return;  // nothing to read: no bar
    }
    m_total = framesToRead;
    m_start = std::chrono::steady_clock::now();
    m_lastDraw = m_start;
    if (m_terminal) {
        Draw();
    }
}

void CExportProgress::Tick() {
    if (m_total == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDraw <
        (m_terminal
             ? kRedrawPeriod
             : std::chrono::duration_cast<std::chrono::steady_clock::duration>(kLinePeriod))) {
        return;
    }
    m_lastDraw = now;
    if (m_terminal) {
        Draw();
    } else {
        m_err << "tagwright-export: " << Status() << '\n' << std::flush;
    }
}

// "1234/5000 frames  120.0 fps  0:31 left": the time left from the frames still to read at the
// rate so far, so a long video weighs what it costs.
std::string CExportProgress::Status() const {
    const long long done = std::min(Done(), m_total);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
    char line[120];
    std::snprintf(
        line, sizeof line, "%lld/%lld frames  %.1f fps  %s left", done, m_total, rate,
        rate > 0 ? FormatDuration(static_cast<double>(m_total - done) / rate).c_str() : "--:--");
    return line;
}

void CExportProgress::Draw() {
    const long long done = std::min(Done(), m_total);
    const int filled = static_cast<int>(kBarWidth * done / m_total);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    // Short enough for an 80-column terminal: a wrapped bar cannot be redrawn in place.
    std::string line = "[" + bar + "] " + Status();
    const size_t width = line.size();
    if (width < m_shownWidth) {
        line.append(m_shownWidth - width, ' ');
    }
    m_err << '\r' << line << std::flush;
    m_shownWidth = width;
    m_barShown = true;
}

void CExportProgress::Clear() {
    if (m_barShown) {
        // Exactly the width drawn: more would wrap on a narrow terminal and leave a blank line.
        m_err << '\r' << std::string(m_shownWidth, ' ') << '\r';
        m_barShown = false;
        m_shownWidth = 0;
    }
}

void CExportProgress::VideoLine(const std::string& line) {
    if (line.empty()) {
        return;
    }
    Clear();
    m_err << line << '\n' << std::flush;
    if (m_terminal && m_total > 0) {
        Draw();
    }
}

void CExportProgress::Finish() {
    if (m_terminal && m_barShown) {
        Draw();
        m_err << '\n' << std::flush;
        m_barShown = false;
    }
}
