#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The one door through which the label store, its step journal, its parking of removed files
// and the folder lock reach the disk. Tests put a wrapper in front of the real one to fail any
// single call with ENOSPC, EIO, EACCES and the like, which is how every failure path of a
// multi-file step gets exercised.
//
// Every call returns 0 on success or the errno value of the failure. Nothing throws. A call that
// fails changes nothing it did not say it changes (a failed WriteFile leaves no file behind).
//
// Threading: the real implementation keeps no state; a wrapper is used on one thread.
class IFileSystem {
  public:
    enum class Kind { None, File, Folder, Other };
    struct Entry {
        std::string name;
        Kind kind = Kind::Other;  // a link counts as what it points to
    };

    virtual ~IFileSystem() = default;

    // What is at the path itself (a link is Other); mtime in seconds when asked for.
    virtual int Status(const std::filesystem::path& path, Kind& kind,
                       long long* mtime = nullptr) = 0;
    // Whole regular file into `out` (its capacity is reused).
    virtual int ReadFile(const std::filesystem::path& path, std::string& out) = 0;
    // Creates the file (exclusive: fails with EEXIST when something is there; otherwise
    // truncates), writes all bytes and, with `sync`, flushes them to the disk before closing.
    virtual int WriteFile(const std::filesystem::path& path, const std::string& bytes,
                          bool exclusive, bool sync) = 0;
    virtual int Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // A second name for a file; fails with EEXIST when the name is taken, atomically even on
    // NFS, which is what makes it the way to create a lock file with its content already in it.
    virtual int Link(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    virtual int Remove(const std::filesystem::path& path) = 0;  // a file or an empty folder
    virtual int MakeFolder(const std::filesystem::path& path) = 0;
    virtual int List(const std::filesystem::path& folder, std::vector<Entry>& entries) = 0;
    // Makes the folder's entries (names created, renamed, removed) durable.
    virtual int SyncFolder(const std::filesystem::path& folder) = 0;
    // Makes everything written on the file system that holds `path` durable: one call for the
    // hundreds of files a step may stage, instead of one flush each.
    virtual int SyncAll(const std::filesystem::path& path) = 0;
    // Sets the file's modification time to the file server's now.
    virtual int Touch(const std::filesystem::path& path) = 0;
    // Opens the file and takes an exclusive kernel lock on it without waiting (EWOULDBLOCK when
    // another open file holds it). `handle` is valid until Unlock.
    virtual int LockFile(const std::filesystem::path& path, int& handle) = 0;
    virtual void Unlock(int handle) = 0;
    // True for NFS and SMB, where a kernel lock is no hint of who holds a folder.
    virtual bool IsNetworkFolder(const std::filesystem::path& folder) = 0;
};

// The process's real file system.
IFileSystem& RealFileSystem();
// Whether the real file system flushes to the disk when asked (the default). Off is for tests,
// which never cut the power and run on shared machines where each flush costs milliseconds, and
// for measuring what flushing costs. Off, a power cut may lose or empty files.
void SetRealFileSystemFlushes(bool on);

// A folder of our own at `path`: made when nothing is there, and never a link (through a link,
// files would be written, and later removed, wherever it points). 0, or the errno value;
// ENOTDIR when something else is there.
int EnsureRealFolder(IFileSystem& fs, const std::filesystem::path& path);

// Replaces `target` with `bytes` so that a crash leaves it wholly old or wholly new: the bytes
// go to `temp` (a fresh name on the same file system, created exclusively), are flushed with
// `sync`, and the temporary is renamed over the target. 0 or the errno value; on failure the
// target is unchanged and the temporary removed. The caller flushes the target's folder (once,
// however many files it replaced).
int ReplaceFile(IFileSystem& fs, const std::filesystem::path& temp,
                const std::filesystem::path& target, const std::string& bytes, bool sync);

// The operator's words for a failed file operation on the label folder: a full disk, a read or
// write error and missing permissions each get their own message, which names the folder.
std::string DiskErrorMessage(int error, const std::filesystem::path& folder);
