#include "export/Progress.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);

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
    m_lastDraw = m_start - kRedrawPeriod;
    Tick();
}

void CExportProgress::Tick() {
    if (!m_terminal || m_total == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDraw < kRedrawPeriod) {
        return;
    }
    m_lastDraw = now;
    Draw();
}

void CExportProgress::Draw() {
    const long long done = std::min(Done(), m_total);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
    const int filled = static_cast<int>(kBarWidth * done / m_total);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    char line[160];
    std::snprintf(
        line, sizeof line, "\r[%s] %lld/%lld frames  %.1f fps  %s left ", bar.c_str(), done,
        m_total, rate,
        rate > 0 ? FormatDuration(static_cast<double>(m_total - done) / rate).c_str() : "--:--");
    m_err << line << std::flush;
    m_barShown = true;
}

void CExportProgress::Clear() {
    if (m_barShown) {
        m_err << '\r' << std::string(100, ' ') << '\r';
        m_barShown = false;
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
