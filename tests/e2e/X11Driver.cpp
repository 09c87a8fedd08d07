#include "e2e/X11Driver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include <opencv2/imgcodecs.hpp>

namespace {

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

int RunShell(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::array<char, 4096> buf{};
    std::string out;
    std::size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) {
        out.append(buf.data(), n);
    }
    const int status = pclose(pipe);
    if (output != nullptr) {
        *output = out;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

AppProcess::~AppProcess() {
    Kill();
}

bool AppProcess::Start(const std::filesystem::path& binary, const std::vector<std::string>& args,
                       const std::filesystem::path& cwd, const std::filesystem::path& logPath) {
    m_exit.reset();
    m_pid = fork();
    if (m_pid < 0) {
        return false;
    }
    if (m_pid == 0) {
        if (chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        std::vector<std::string> argv_s{binary.string()};
        argv_s.insert(argv_s.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_s) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return true;
}

std::optional<int> AppProcess::Wait(int timeoutMs) {
    if (m_exit || m_pid <= 0) {
        return m_exit;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            m_pid = -1;
            return m_exit;
        }
        SleepMs(50);
    } while (std::chrono::steady_clock::now() < end);
    return std::nullopt;
}

bool AppProcess::Running() {
    return m_pid > 0 && !Wait(0).has_value();
}

void AppProcess::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
}

std::optional<WindowInfo> FindWindowByTitle(const std::string& title, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        std::string out;
        const std::string pattern = "^" + title + "$";
        if (RunShell("xdotool search --onlyvisible --name " + ShellQuote(pattern) + " 2>/dev/null",
                     &out) == 0 &&
            !out.empty()) {
            std::istringstream ids(out);
            std::string id;
            ids >> id;
            std::string geo;
            RunShell("xdotool getwindowgeometry --shell " + id, &geo);
            int x = 0, y = 0, w = 0, h = 0;
            std::istringstream lines(geo);
            std::string line;
            while (std::getline(lines, line)) {
                if (line.rfind("X=", 0) == 0)
                    x = std::stoi(line.substr(2));
                if (line.rfind("Y=", 0) == 0)
                    y = std::stoi(line.substr(2));
                if (line.rfind("WIDTH=", 0) == 0)
                    w = std::stoi(line.substr(6));
                if (line.rfind("HEIGHT=", 0) == 0)
                    h = std::stoi(line.substr(7));
            }
            if (w > 0 && h > 0) {
                return WindowInfo{id, CRect{x, y, x + w, y + h}};
            }
        }
        SleepMs(100);
    } while (std::chrono::steady_clock::now() < end);
    return std::nullopt;
}

bool WindowExists(const std::string& title) {
    std::string out;
    return RunShell("xdotool search --onlyvisible --name " + ShellQuote("^" + title + "$") +
                        " 2>/dev/null",
                    &out) == 0 &&
           !out.empty();
}

void FocusWindow(const std::string& id) {
    RunShell("xdotool windowfocus --sync " + id + " 2>/dev/null");
}

void MouseMove(int x, int y) {
    RunShell("xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y));
}

void MouseDown(int button) {
    RunShell("xdotool mousedown " + std::to_string(button));
}
void MouseUp(int button) {
    RunShell("xdotool mouseup " + std::to_string(button));
}

void MouseDrag(const CPoint& from, const CPoint& to, int steps) {
    MouseMove(from.x, from.y);
    Settle(100);
    MouseDown(1);
    Settle(100);
    for (int i = 1; i <= steps; ++i) {
        MouseMove(from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps);
        Settle(30);
    }
    Settle(100);
    MouseUp(1);
}

void PressKey(const std::string& key) {
    RunShell("xdotool key " + ShellQuote(key));
}

void Settle(int ms) {
    SleepMs(ms);
}

cv::Mat Screenshot() {
    char name[] = "/tmp/tagwright-e2e-shot-XXXXXX.png";
    const int fd = mkstemps(name, 4);
    if (fd < 0) {
        return {};
    }
    close(fd);
    cv::Mat img;
    if (RunShell(std::string("import -silent -window root ") + name + " 2>/dev/null") == 0) {
        img = cv::imread(name, cv::IMREAD_COLOR);
    }
    unlink(name);
    return img;
}
