// The one-writer lock of a label folder; see FolderLock.h.

#include "labels/FolderLock.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <sstream>

#include "labels/LabelMessages.h"

namespace fs = std::filesystem;

namespace {

// How often a holder refreshes the lock file's time while it writes.
constexpr long long kTouchEverySeconds = 60;

long long Now() {
    return static_cast<long long>(std::time(nullptr));
}

std::string FirstLine(IFileSystem& fsys, const char* path) {
    std::string text;
    if (fsys.ReadFile(path, text) != 0) {
        return {};
    }
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

std::string UserName() {
    if (const passwd* pw = ::getpwuid(::getuid())) {
        return pw->pw_name;
    }
    return "uid " + std::to_string(::getuid());
}

std::string HostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        return "?";
    }
    return buf;
}

std::string NewToken() {
    std::random_device rd;
    std::mt19937_64 rng((static_cast<unsigned long long>(rd()) << 32) ^ rd() ^
                        static_cast<unsigned long long>(::getpid()));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
    return buf;
}

bool ParseHolder(const std::string& text, LockHolder& out) {
    std::istringstream in(text);
    std::string line;
    bool any = false;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        any = true;
        if (key == "user") {
            out.user = value;
        } else if (key == "host") {
            out.host = value;
        } else if (key == "machine") {
            out.machine = value;
        } else if (key == "boot") {
            out.boot = value;
        } else if (key == "token") {
            out.token = value;
        } else if (key == "pid") {
            out.pid = std::strtol(value.c_str(), nullptr, 10);
        } else if (key == "since") {
            out.since = std::strtoll(value.c_str(), nullptr, 10);
        }
    }
    return any && !out.token.empty();
}

}  // namespace

bool CFolderLock::ProcessRunning(long pid) {
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
        return false;
    }
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (f == nullptr) {
        return true;  // no /proc to ask: the number is in use
    }
    char state = 0;
    // "pid (name) state ...": the name may hold spaces and parentheses, the state follows the
    // last closing one.
    char buf[512] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    const char* close = std::strrchr(buf, ')');
    if (close != nullptr && close + 2 < buf + n) {
        state = close[2];
    }
    return state != 'Z' && state != 'X';
}

std::string LockHolder::Describe() const {
    char when[32] = "?";
    const std::time_t t = static_cast<std::time_t>(since);
    std::tm tm{};
    if (since > 0 && ::localtime_r(&t, &tm) != nullptr) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &tm);
    }
    return (user.empty() ? std::string("?") : user) + "@" + (host.empty() ? "?" : host) +
           ", process " + std::to_string(pid) + ", since " + when;
}

fs::path CFolderLock::LockPath(const fs::path& labelFolder) {
    return labelFolder / kTempFolderName / kLockFileName;
}

CFolderLock::CFolderLock(IFileSystem& fs) : m_fs(fs) {
    m_self.user = UserName();
    m_self.host = HostName();
    m_self.machine = FirstLine(m_fs, "/etc/machine-id");
    m_self.boot = FirstLine(m_fs, "/proc/sys/kernel/random/boot_id");
    m_self.pid = static_cast<long>(::getpid());
}

CFolderLock::~CFolderLock() {
    Release();
}

std::string CFolderLock::Content() const {
    // No commas: a reader that took this for a frame file would find no label line in it.
    std::ostringstream out;
    out << "tagwright folder lock\n"
        << "user=" << m_self.user << "\nhost=" << m_self.host << "\nmachine=" << m_self.machine
        << "\nboot=" << m_self.boot << "\npid=" << m_self.pid << "\nsince=" << m_self.since
        << "\ntoken=" << m_self.token << "\n";
    return out.str();
}

CFolderLock::HolderState CFolderLock::JudgeHolder(const LockHolder& other) {
    const bool sameMachine = !m_self.machine.empty() && !other.machine.empty()
                                 ? other.machine == m_self.machine
                                 : other.host == m_self.host;
    if (!sameMachine) {
        return HolderState::Elsewhere;  // only its operator, or ours, can say
    }
    if (!other.boot.empty() && !m_self.boot.empty() && other.boot != m_self.boot) {
        return HolderState::Gone;  // taken before this machine last started
    }
    if (!ProcessRunning(other.pid)) {
        return HolderState::Gone;
    }
    if (m_fs.IsNetworkFolder(m_path.parent_path())) {
        return HolderState::Alive;  // a live process of that number; a flock there proves nothing
    }
    // Its process number is in use, possibly by another program by now: the flock, which dies
    // with its holder, decides.
    int handle = -1;
    if (m_fs.LockFile(m_path, handle) == 0) {
        m_fs.Unlock(handle);
        return HolderState::Gone;
    }
    return HolderState::Alive;
}

CFolderLock::Result CFolderLock::Acquire(const fs::path& labelFolder,
                                         const ConfirmTakeOver& confirm) {
    Release();
    m_bTookOver = false;
    m_nError = 0;
    m_holder = LockHolder{};
    m_path = LockPath(labelFolder);
    if (int e = EnsureRealFolder(m_fs, m_path.parent_path())) {
        m_nError = e;
        return Result::Error;
    }
    m_self.token = NewToken();
    m_self.since = Now();
    // The content goes under a name of our own first; the hard link then makes the lock appear
    // whole or not at all. The flock is taken on that file before it becomes the lock, so no one
    // ever sees our lock without it.
    const fs::path mine = m_path.parent_path() / ("lock-" + m_self.token);
    if (int e = m_fs.WriteFile(mine, Content(), true, true)) {
        m_nError = e;
        return Result::Error;
    }
    const bool local = !m_fs.IsNetworkFolder(labelFolder);
    int handle = -1;
    if (local && m_fs.LockFile(mine, handle) != 0) {
        handle = -1;  // a hint only: the lock file stays the truth
    }
    Result result = Result::Error;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int e = m_fs.Link(mine, m_path);
        if (e == 0) {
            result = Result::Acquired;
            break;
        }
        if (e != EEXIST) {
            m_nError = e;
            break;
        }
        std::string text;
        const int r = m_fs.ReadFile(m_path, text);
        if (r == ENOENT) {
            continue;  // released meanwhile
        }
        if (r != 0) {
            m_nError = r;
            break;
        }
        LockHolder other;
        if (!ParseHolder(text, other)) {
            other.host = "?";  // damaged: only the operator can tell whether it is in use
        }
        long long lockTime = 0;
        long long serverNow = 0;
        IFileSystem::Kind kind = IFileSystem::Kind::None;
        // Both times come from the file server, so a wrong clock on either computer does not
        // make a live lock look stale.
        if (m_fs.Status(m_path, kind, &lockTime) == 0 && m_fs.Touch(mine) == 0 &&
            m_fs.Status(mine, kind, &serverNow) == 0 && lockTime > 0) {
            other.idleSeconds = serverNow > lockTime ? serverNow - lockTime : 0;
        }
        const HolderState state = JudgeHolder(other);
        // A live holder here keeps the folder whatever anyone answers.
        if (state == HolderState::Alive ||
            (state == HolderState::Elsewhere && !(confirm && confirm(other)))) {
            m_holder = other;
            result = Result::Held;
            break;
        }
        // Only the lock we judged is removed: one that changed meanwhile is judged again.
        std::string again;
        if (m_fs.ReadFile(m_path, again) == 0 && again == text) {
            if (int rm = m_fs.Remove(m_path); rm != 0 && rm != ENOENT) {
                m_nError = rm;
                break;
            }
            m_bTookOver = true;
        }
    }
    m_fs.Remove(mine);
    if (result != Result::Acquired) {
        m_fs.Unlock(handle);
        if (result == Result::Error && m_nError == 0) {
            m_nError = EAGAIN;  // changed hands on every attempt
        }
        return result;
    }
    m_fs.SyncFolder(m_path.parent_path());
    m_nHandle = handle;
    m_bHeld = true;
    m_nLastTouch = Now();
    return result;
}

bool CFolderLock::StillOurs() {
    if (!m_bHeld) {
        return false;
    }
    std::string text;
    const int r = m_fs.ReadFile(m_path, text);
    LockHolder now;
    if (r == 0 && ParseHolder(text, now) && now.token == m_self.token) {
        if (Now() - m_nLastTouch >= kTouchEverySeconds) {
            m_fs.Touch(m_path);
            m_nLastTouch = Now();
        }
        return true;
    }
    if (r == ENOENT || r == ENOTDIR) {
        // Removed by hand (someone tidied the hidden folder away): nobody else took it, so it is
        // made again, unless another writer got there first.
        m_nError = EnsureRealFolder(m_fs, m_path.parent_path());
        const fs::path mine = m_path.parent_path() / ("lock-" + m_self.token);
        if (m_nError == 0) {
            m_nError = m_fs.WriteFile(mine, Content(), true, true);
        }
        if (m_nError == 0) {
            const int e = m_fs.Link(mine, m_path);
            m_fs.Remove(mine);
            if (e == 0) {
                return true;
            }
            if (e != EEXIST) {
                m_nError = e;
            } else if (m_fs.ReadFile(m_path, text) == 0 && ParseHolder(text, now)) {
                m_holder = now;
                m_bHeld = false;
                m_fs.Unlock(m_nHandle);
                m_nHandle = -1;
                return false;
            }
        }
        return false;
    }
    if (r != 0) {
        m_nError = r;  // unreadable: not known to be lost, but not known to be ours either
        return false;
    }
    // Taken over (or removed by hand): the folder is someone else's now.
    m_holder = now;
    m_bHeld = false;
    m_fs.Unlock(m_nHandle);
    m_nHandle = -1;
    return false;
}

void CFolderLock::Release() {
    if (!m_bHeld) {
        return;
    }
    std::string text;
    LockHolder now;
    if (m_fs.ReadFile(m_path, text) == 0 && ParseHolder(text, now) && now.token == m_self.token) {
        m_fs.Remove(m_path);
    }
    m_fs.Unlock(m_nHandle);
    m_nHandle = -1;
    m_bHeld = false;
}
