#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "labels/FileSystem.h"

// Who holds a label folder, as its lock file says.
struct LockHolder {
    std::string user;
    std::string host;
    std::string machine;  // /etc/machine-id: tells two computers of the same name apart
    std::string boot;     // the kernel's boot id: a holder from before a reboot is gone
    std::string token;    // unique per lock taken: tells our lock from a later one
    long pid = 0;
    long long since = 0;         // seconds since 1970, when the lock was taken
    long long idleSeconds = -1;  // how long since the holder last wrote, by the server's clock

    // "user@host, process 1234, since 2026-12-07 15:50".
    std::string Describe() const;
};

// One writer per label folder, across processes and computers. The lock is a small file,
// "<label folder>/.tagwright-tmp/lock", created with its content in one atomic step (written
// under a name of its own, then hard-linked to the lock's name, which fails when the name is
// taken, on local disks and NFS alike). It names the user, host, process and time. On a local
// disk the file also carries a kernel lock (flock) for as long as the holder lives, so a holder
// that died is told from one that is busy without guessing from the process id.
//
// A holder on this machine that is gone (its process dead, its flock free, or the machine
// rebooted since) is taken over without asking. A holder on another machine is taken over only
// when `confirm` says so: the caller asks the operator, showing who and how long ago it last
// wrote. Every other case leaves the folder to its holder: the caller opens it read-only.
//
// Usable without a window and without the label store: the importer takes it around its writes.
// Released by Release() and by the destructor; a crash leaves the file, which the next opener
// then finds stale.
//
// Threading: one thread.
class CFolderLock {
  public:
    enum class Result {
        Acquired,  // ours now; also after taking over a holder that was gone
        Held,      // someone else holds it: see Holder()
        Error,     // the lock could not be made or read: see Error()
    };
    using ConfirmTakeOver = std::function<bool(const LockHolder& holder)>;

    explicit CFolderLock(IFileSystem& fs = RealFileSystem());
    ~CFolderLock();
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

    // Takes the lock of `labelFolder` (the folder must exist). Releases a lock held before.
    Result Acquire(const std::filesystem::path& labelFolder, const ConfirmTakeOver& confirm = {});
    // Drops the lock if it is still ours (a lock taken over by someone else is left to them).
    void Release();

    bool IsHeld() const { return m_bHeld; }
    // Whether someone else's lock was found stale and replaced by the last Acquire.
    bool TookOver() const { return m_bTookOver; }
    // The other holder after Result::Held (or while our lock was taken from us).
    const LockHolder& Holder() const { return m_holder; }
    int Error() const { return m_nError; }

    // Checked before every write: the lock file still names us. When someone took the folder
    // over, false, and Holder() names them. Also refreshes the file's time now and then, which
    // is how other computers see that we are still at work.
    bool StillOurs();

    // Whether a process of this machine is running: neither gone nor a zombie waiting to be
    // reaped (one that was killed keeps its number until its parent notices).
    static bool ProcessRunning(long pid);

    // Where the lock of a label folder lives.
    static std::filesystem::path LockPath(const std::filesystem::path& labelFolder);

  private:
    enum class HolderState { Gone, Alive, Elsewhere };
    HolderState JudgeHolder(const LockHolder& other);
    std::string Content() const;

    IFileSystem& m_fs;
    std::filesystem::path m_path;
    LockHolder m_self;
    LockHolder m_holder;
    bool m_bHeld = false;
    bool m_bTookOver = false;
    int m_nError = 0;
    int m_nHandle = -1;
    long long m_nLastTouch = 0;
};
