// The real file system behind IFileSystem, and the helpers every writer of the label folder
// shares.

#include "labels/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "labels/LabelMessages.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_flushes{true};

int Err() {
    return errno != 0 ? errno : EIO;
}

IFileSystem::Kind KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return IFileSystem::Kind::File;
    }
    if (S_ISDIR(mode)) {
        return IFileSystem::Kind::Folder;
    }
    return IFileSystem::Kind::Other;
}

// Writes all bytes, going on after short writes and interrupted calls.
int WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Err();
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

class CRealFileSystem final : public IFileSystem {
  public:
    int Status(const fs::path& path, Kind& kind, long long* mtime) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            kind = Kind::None;
            return errno == ENOENT || errno == ENOTDIR ? 0 : Err();
        }
        kind = KindOf(st.st_mode);
        if (mtime != nullptr) {
            *mtime = static_cast<long long>(st.st_mtime);
        }
        return 0;
    }

    int ReadFile(const fs::path& path, std::string& out) override {
        // Non-blocking, so that a FIFO named like a frame file cannot stall the editor.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            return Err();
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            ::close(fd);
            return e;
        }
        // The size fstat gave, plus a little: one read for a file that did not grow meanwhile.
        out.resize(static_cast<size_t>(st.st_size) + 1);
        size_t len = 0;
        for (;;) {
            if (len == out.size()) {
                out.resize(out.size() * 2);
            }
            const ssize_t got = ::read(fd, &out[len], out.size() - len);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                const int e = Err();
                ::close(fd);
                return e;
            }
            if (got == 0) {
                break;
            }
            len += static_cast<size_t>(got);
        }
        ::close(fd);
        out.resize(len);
        return 0;
    }

    int WriteFile(const fs::path& path, const std::string& bytes, bool exclusive,
                  bool sync) override {
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
        const int fd = ::open(path.c_str(), flags, 0644);
        if (fd < 0) {
            return Err();
        }
        int e = WriteAll(fd, bytes);
        if (e == 0 && sync && g_flushes && ::fdatasync(fd) != 0) {
            e = Err();
        }
        // A network file system reports a failed write at close: a close that fails is a
        // write that failed.
        if (::close(fd) != 0 && e == 0) {
            e = Err();
        }
        if (e != 0) {
            ::unlink(path.c_str());
        }
        return e;
    }

    int Rename(const fs::path& from, const fs::path& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : Err();
    }

    int Link(const fs::path& from, const fs::path& to) override {
        return ::link(from.c_str(), to.c_str()) == 0 ? 0 : Err();
    }

    int Remove(const fs::path& path) override {
        if (::unlink(path.c_str()) == 0) {
            return 0;
        }
        if (errno == EISDIR || errno == EPERM) {
            return ::rmdir(path.c_str()) == 0 ? 0 : Err();
        }
        return Err();
    }

    int MakeFolder(const fs::path& path) override {
        return ::mkdir(path.c_str(), 0755) == 0 ? 0 : Err();
    }

    int List(const fs::path& folder, std::vector<Entry>& entries) override {
        entries.clear();
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            return Err();
        }
        errno = 0;
        while (const dirent* d = ::readdir(dir)) {
            const char* name = d->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
                continue;
            }
            Entry e;
            e.name = name;
            if (d->d_type == DT_REG) {
                e.kind = Kind::File;
            } else if (d->d_type == DT_DIR) {
                e.kind = Kind::Folder;
            } else if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
                struct stat st {};
                e.kind =
                    ::fstatat(::dirfd(dir), name, &st, 0) == 0 ? KindOf(st.st_mode) : Kind::Other;
            }
            entries.push_back(std::move(e));
            errno = 0;
        }
        const int e = errno;  // a listing that broke off keeps what it found
        ::closedir(dir);
        return e;
    }

    int SyncFolder(const fs::path& folder) override {
        if (!g_flushes) {
            return 0;
        }
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return Err();
        }
        int e = ::fsync(fd) == 0 ? 0 : Err();
        // Some file systems cannot flush a folder at all; that is no failure of ours.
        if (e == EINVAL || e == ENOTSUP) {
            e = 0;
        }
        ::close(fd);
        return e;
    }

    int SyncAll(const fs::path& path) override {
        if (!g_flushes) {
            return 0;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return Err();
        }
        const int e = ::syncfs(fd) == 0 ? 0 : Err();
        ::close(fd);
        return e;
    }

    int Touch(const fs::path& path) override {
        return ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0 ? 0 : Err();
    }

    int LockFile(const fs::path& path, int& handle) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return Err();
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = Err();
            ::close(fd);
            return e;
        }
        handle = fd;
        return 0;
    }

    void Unlock(int handle) override {
        if (handle >= 0) {
            ::close(handle);  // closing the only descriptor drops its flock
        }
    }

    bool IsNetworkFolder(const fs::path& folder) override {
        struct statfs st {};
        if (::statfs(folder.c_str(), &st) != 0) {
            return true;  // unknown: trust only the lock file
        }
        constexpr unsigned long kNfs = 0x6969;
        constexpr unsigned long kSmb = 0x517B;
        constexpr unsigned long kCifs = 0xFF534D42;
        constexpr unsigned long kSmb2 = 0xFE534D42;
        const auto type = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFul;
        return type == kNfs || type == kSmb || type == kCifs || type == kSmb2;
    }
};

}  // namespace

void SetRealFileSystemFlushes(bool on) {
    g_flushes = on;
}

IFileSystem& RealFileSystem() {
    static CRealFileSystem real;
    return real;
}

int EnsureRealFolder(IFileSystem& fs, const fs::path& path) {
    IFileSystem::Kind kind = IFileSystem::Kind::None;
    if (int e = fs.Status(path, kind)) {
        return e;
    }
    if (kind == IFileSystem::Kind::None) {
        const int e = fs.MakeFolder(path);
        if (e != 0 && e != EEXIST) {
            return e;
        }
        if (int s = fs.Status(path, kind)) {
            return s;
        }
    }
    return kind == IFileSystem::Kind::Folder ? 0 : ENOTDIR;
}

int ReplaceFile(IFileSystem& fs, const fs::path& temp, const fs::path& target,
                const std::string& bytes, bool sync) {
    if (int e = fs.WriteFile(temp, bytes, true, sync)) {
        return e;
    }
    if (int e = fs.Rename(temp, target)) {
        fs.Remove(temp);
        return e;
    }
    return 0;
}

std::string DiskErrorMessage(int error, const fs::path& folder) {
    const char* text = nullptr;
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            text = kMsgDiskFull;
            break;
        case EIO:
            text = kMsgDiskError;
            break;
        case EACCES:
        case EPERM:
        case EROFS:
        case ENOTDIR:
        case ENOENT:
        case EISDIR:
        case ENOTEMPTY:
        case EEXIST:
            text = kMsgNoAccess;
            break;
        default:
            return std::string(kMsgWriteFailed) + " (" + std::strerror(error) + ")\n" +
                   kMsgFolderPrefix + folder.string();
    }
    return std::string(text) + "\n" + kMsgFolderPrefix + folder.string();
}
