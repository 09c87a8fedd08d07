#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "labels/EditHistory.h"
#include "labels/FileSystem.h"
#include "labels/FolderLock.h"
#include "labels/ROI.h"

// CLabelManager holds every ROI of the open video in memory and keeps the per-frame label files
// "<frame>.txt" of the video's label folder in step with it. Every change is written at once.
//
// Ownership and threading: created by the main dialog, used only on the user-interface thread.
// It never talks to a window: messages go through the message sink, GO-button states through the
// GO-button sink (both optional; unset sinks drop their calls).
//
// Files: the label folder is kept as an explicit base path (never the process's working
// directory). Every file operation goes through an IFileSystem (the real one unless a test gives
// another). Opening a video takes the folder's lock (CFolderLock): a folder that someone else
// holds is opened read-only, and every change is then refused with a message naming the holder.
//
// Each editing operation is one write batch: its frames are changed in memory, then their files
// are written together at the end of the operation. A batch of one file is a temporary file in
// this process's own folder under ".tagwright-tmp", flushed and renamed over the frame's file. A
// batch of several files stages them all, flushes the disk once, writes a journal naming every
// rename (its appearance is the commit), renames, and removes the journal: a crash leaves the
// batch wholly undone (no journal) or finished at the next open (journal). When a batch cannot
// be written (full disk, read error, permissions, read-only), its frames go back in memory to what
// their files hold, so the screen never shows what is not stored, and the operator is told.
class CLabelManager {
  public:
    using MessageSink = std::function<void(const std::string& text)>;
    using GoButtonSink = std::function<void(int label, bool enabled)>;
    // A Yes/No question to the operator; true for Yes.
    using QuestionSink = std::function<bool(const std::string& text)>;

    explicit CLabelManager(IFileSystem& fs = RealFileSystem());
    virtual ~CLabelManager();
    CLabelManager(const CLabelManager&) = delete;
    CLabelManager& operator=(const CLabelManager&) = delete;

    void SetMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    void SetGoButtonSink(GoButtonSink sink) { m_goButtonSink = std::move(sink); }
    // Without it, a lock left by another computer is never taken over.
    void SetQuestionSink(QuestionSink sink) { m_questionSink = std::move(sink); }

    // --- store ---
    void ResetStore();
    void SelectROI(int label, int frame);
    CRect GetSelectedRect() const;
    int HitTest(int frame, const CPoint& point) const;
    void GetFrameROIs(int frame, std::vector<ROI>& list) const;
    int GetCount() const;
    void AdjustFrameCount(int frame, int value, bool absolute);
    int GetFrameCount(int frame) const;  // 0 for frames at or beyond the end of the counts
    // Number of listed frames (the highest frame ever counted + 1); never shrinks while a video
    // is open.
    int GetFrameCountLength() const;
    // Raised by every change of the records or counts, so a view derived from the store (the
    // slider's marks) knows when to recompute without being told by each edit.
    unsigned long long GetRevision() const { return m_nRevision; }
    // The first frame at or after `from` holding a counted record, or one of `label`; -1 when
    // there is none.
    int FirstLabelledFrameFrom(int from) const;
    int FirstFrameOfLabelFrom(int label, int from) const;
    // The last frame before `before` holding a record of `label`; -1 when there is none.
    int LastFrameOfLabelBefore(int label, int before) const;

    int GetCurLabel() const { return m_nCurLabel; }
    void SetCurLabel(int label) { m_nCurLabel = label; }
    int GetSelLabel() const { return m_nSelLabel; }
    int GetSelFrame() const { return m_nSelFrame; }
    const std::string& GetSelKey() const { return m_strSelKey; }
    const std::string& GetVideoName() const { return m_strVideoName; }
    const std::filesystem::path& GetLabelFolder() const { return m_labelFolder; }

    // --- label folder and per-frame files ---
    // The label folder of a video: its path without the last four characters (for "case7.mp4",
    // "case7" beside it). Empty when the file name has four characters or fewer and so leaves no
    // folder of its own. Readers and writers other than the editor (the exporter, the importer)
    // take the rule from here.
    static std::filesystem::path LabelFolderOf(const std::filesystem::path& videoPath);
    // Empties the store and takes the video path without its last four characters as the
    // label folder: created when nothing is there (false), loaded when something is (true).
    // When it cannot be created, is no folder, or the video's name is too short to leave a
    // folder beside the video, nothing is read and every later write reports the failure.
    // Takes the folder's lock first: held by someone else, the folder is loaded read-only (the
    // operator is told who holds it). With the lock, a change that a crash cut off is finished
    // (or found never begun) before the load, and the operator is told.
    bool OpenVideo(const std::filesystem::path& videoPath);
    // Lets go of the open folder: the undo history and this process's files in the hidden folder
    // go, and the lock is released. The records stay until the next ResetStore.
    void CloseVideo();
    // True when the folder is open but someone else holds it; the holder as the message names it.
    bool IsReadOnly() const { return m_bReadOnly; }
    const std::string& ReadOnlyHolder() const { return m_strHolder; }
    int LoadFolder(const std::filesystem::path& folder);
    // Reads a label folder into the store exactly as LoadFolder does (same files, same lines,
    // same message for a bad label) but changes nothing on disk and notifies no GO button: for
    // readers such as the exporter, which must leave the folder and its parent as they were.
    // Returns 1 when the folder could be listed, 0 when not. Call ResetStore first.
    int ReadFolder(const std::filesystem::path& folder);
    int SaveFrame(int frame);

    // --- editing operations and labelled-frame search ---
    int AddROI(int frame, const CRect& rect, int nClass, int modeFlags);
    int DeleteROI(int frame, int label);
    int DeleteSelectedROI(int frame);
    int SetSelectedRect(const CRect& rect);
    int DeleteFrameROIs(int frame);
    int CopyFrameToNext(int frame);
    int DeleteLabelAfter(int frame, int label);
    int SetLabelClass(int label, int nClass);
    int GetLabelClass(int label) const;
    int FindFirstFrame(int label);
    int NextLabelledFrame(int cur) const;
    int PrevLabelledFrame(int cur) const;

    // --- crop file and report ---
    int WriteCropFile(const CRect& rect);
    // The crop region of the label folder's crop file, corners put in order; false when there
    // is no such file or it holds no region.
    bool ReadCropFile(CRect& out) const;
    bool WriteReport(const std::string& comment);

    // Re-inserts a record exactly as it was (used to undo the removal made at the start of an
    // abandoned draw); keeps counts and the file of its frame in step.
    void RestoreROI(const ROI& roi);
    // A copy of the record with this key, if any.
    bool FindROI(int label, int frame, ROI& out) const;

    // --- undo and redo (labels/LabelUndo.cpp) ---
    // One operator action is one step: the caller opens it before the action's first change
    // and closes it after the last; a step opened inside an open one joins it, and an editing
    // operation called outside any is a step of its own. `viewFrame` is the frame to show when
    // the step is undone or redone (-1 keeps the one given before, else its first frame).
    // An action that ends in the same handler uses StepScope; one that spans several (a drag)
    // opens and closes by hand.
    void BeginEditStep();
    void EndEditStep(int viewFrame);
    class StepScope {
      public:
        explicit StepScope(CLabelManager& store, int viewFrame = -1)
            : m_store(store), m_nViewFrame(viewFrame) {
            m_store.BeginEditStep();
        }
        ~StepScope() { m_store.EndEditStep(m_nViewFrame); }
        StepScope(const StepScope&) = delete;
        StepScope& operator=(const StepScope&) = delete;
        void SetViewFrame(int frame) { m_nViewFrame = frame; }

      private:
        CLabelManager& m_store;
        int m_nViewFrame;
    };
    struct EditOutcome {
        int viewFrame = -1;
        std::vector<int> labels;  // labels on the frames the step changed, before or after
        bool changed = false;     // some frame was restored
    };
    // Puts back every frame the last step changed (records, count and file, byte for byte, a
    // file that did not exist removed again) and the selection before it, all files as one
    // write batch. When the batch cannot be written the store's message says why, nothing
    // changes in memory or on disk, and the step stays to be undone again. False when there was
    // nothing to undo or the files could not be written.
    bool Undo(EditOutcome& out);
    // The same forwards: the state after the step that the last undo reverted.
    bool Redo(EditOutcome& out);
    bool CanUndo() const;
    bool CanRedo() const;
    const CEditHistory& EditHistory() const { return *m_pHistory; }

  private:
    // --- write batches (labels/LabelCommit.cpp) ---
    // One file change of a batch.
    struct FileAction {
        enum class Kind { Write, MoveBack, Remove };
        int frame = 0;
        Kind kind = Kind::Write;
        std::string content;  // Write
        std::string parked;   // MoveBack: the parked file to rename back; Remove: park under
                              // this name (empty: delete outright)
    };
    // Every editing operation is a batch; SaveFrame inside one only marks the frame, and the
    // outermost batch writes the marked frames when it ends.
    class BatchScope {
      public:
        explicit BatchScope(CLabelManager& store) : m_store(store) { ++m_store.m_nBatchDepth; }
        ~BatchScope() { Finish(); }
        BatchScope(const BatchScope&) = delete;
        BatchScope& operator=(const BatchScope&) = delete;
        // Writes the batch if this is the outermost; false when it could not be written.
        bool Finish();

      private:
        CLabelManager& m_store;
        bool m_bDone = false;
        bool m_bResult = true;
    };
    bool CommitPending();
    // Writes the actions as one batch (see the class comment). On failure before the commit
    // point nothing changed on disk and the reason has been shown; false. Fills in park names.
    bool CommitActions(std::vector<FileAction>& actions);
    bool CommitOne(FileAction& action, int& error);
    bool CommitJournalled(std::vector<FileAction>& actions, int& error);
    // May this process write now? Shows why not.
    bool CheckWritable();
    void ShowDiskError(int error) const;
    // Puts the frames back in memory as their files hold them.
    void RevertToStored(const std::vector<int>& frames);
    // This process's own folder inside the hidden folder: temporaries, staged files, parked files
    // and the journal; made on first use.
    std::filesystem::path ProcessFolder() const;
    int EnsureProcessFolder();
    void RemoveProcessFolder();
    // At open, under the lock: finishes the journals of writers that are gone and empties their
    // folders. False when a journal could not be finished.
    bool RecoverInterruptedSteps();
    // Takes the lock of the folder being opened; false when the folder is not ours to write.
    bool TakeFolder(const std::filesystem::path& folder);

    // Called before any change to a frame's records, count or file: the first time since the
    // frame was last stored, its records are kept (to put back if the write fails); the first
    // time in a step, the frame's state (its file's bytes included) is recorded as it is now.
    void TouchFrame(int frame);
    // A frame file was written (content) or removed (nullptr) during a step.
    void NoteFrameFile(int frame, const std::string* content);
    // The records, uncounted labels and count of a frame as the store holds them now.
    void CaptureFrame(int frame, CEditHistory::FrameState& state) const;
    // Replaces a frame's records, uncounted labels and count in memory.
    void PutFrame(int frame, const CEditHistory::FrameState& state);
    // The file change that takes one frame of a step to its state before (undo) or after.
    bool PlanFrameState(CEditHistory::FrameChange& change, StepDirection direction,
                        std::vector<FileAction>& actions);
    // Clears the history and deletes the files only it could have brought back.
    void DiscardHistory();
    void DeleteDiscardedParked();
    bool TakeStep(StepDirection direction, EditOutcome& out);
    // Ends the step being recorded at its outermost close (all: whatever its depth).
    void CloseStep(int viewFrame, bool all);

    using Key = std::pair<int, int>;  // (frame, label): the store's iteration order

    void ShowMessage(const std::string& text) const;
    void NotifyGoButton(int label, bool enabled) const;

    // Stores a record under its key, replacing any record of that key; keeps the per-label
    // index in step. Returns true when the key was new.
    bool InsertRecord(const ROI& roi);
    // Removes the record of a key; adjusts the frame's count by -1 unless the record was one of
    // the uncounted ones (label below 1 read from a file). Returns false when there was none.
    bool RemoveRecord(int frame, int label);
    const ROI* FindRecord(int frame, int label) const;
    ROI* FindSelectedRecord();

    // Puts the records read by a folder load into the store (later lines of a key win), counts
    // them and marks the labels present.
    // The listing and parsing shared by LoadFolder and ReadFolder; 0 when the folder cannot be
    // listed.
    int ReadFolderRecords(const std::filesystem::path& folder,
                          std::array<bool, kLabelCount>& present);
    void StoreLoadedRecords(std::vector<ROI>& records, std::array<bool, kLabelCount>& present,
                            bool& badLabelShown);

    // AdjustFrameCount(frame, count, false) for a load that meets frames in ascending order.
    void AddLoadedCount(int frame, int count);

    std::filesystem::path FramePath(int frame) const;
    // A file beside a label folder, in the video's own folder (the loading-time log, the
    // report).
    static std::filesystem::path BesideFolder(const std::filesystem::path& folder,
                                              const char* name);
    // The text of a frame's file from the store (empty: no file).
    std::string FrameText(int frame) const;

    int m_nCurLabel = 1;
    std::string m_strSelKey;
    int m_nSelLabel = -1;
    int m_nSelFrame = -1;
    std::string m_strVideoName;

    // Records ordered by (frame, label): per-frame work touches only that frame's records.
    std::map<std::pair<int, int>, ROI> m_mapROI;
    // Per-label index of frames holding the label: label-wide work touches only that label.
    std::map<int, std::set<int>> m_labelFrames;
    // Per-frame record counts, kept sparse (only entries above 0) so that a damaged file name
    // such as "2000000000.txt" costs one entry rather than gigabytes; the search keys find the
    // next or previous labelled frame by a lookup instead of a scan.
    std::map<int, int> m_listFrameCount;
    long long m_nFrameCountLength = 0;
    // Records with a label below 1 read from a file: stored and written back, never counted.
    std::set<Key> m_uncounted;
    unsigned long long m_nRevision = 0;

    std::filesystem::path m_labelFolder;
    bool m_bFolderUsable = false;

    IFileSystem& m_fs;
    std::unique_ptr<CFolderLock> m_pLock;
    bool m_bReadOnly = false;
    std::string m_strHolder;
    std::string m_strRefusal;        // what an edit refused while read-only is told
    std::string m_strProcessFolder;  // name inside the hidden folder; empty until made
    unsigned long long m_nStageSerial = 0;

    int m_nBatchDepth = 0;
    std::set<int> m_pendingFrames;  // frames to write when the outermost batch ends
    // Frames changed in memory since their files were last written, as the files hold them.
    std::map<int, CEditHistory::FrameState> m_stored;

    MessageSink m_messageSink;
    GoButtonSink m_goButtonSink;
    QuestionSink m_questionSink;

    std::unique_ptr<CEditHistory> m_pHistory;
};
