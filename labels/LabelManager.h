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
#include "labels/ROI.h"

// CLabelManager holds every ROI of the open video in memory and keeps the per-frame label files
// "<frame>.txt" of the video's label folder in step with it. Every change is written at once.
//
// Ownership and threading: created by the main dialog, used only on the user-interface thread.
// It never talks to a window: messages go through the message sink, GO-button states through the
// GO-button sink (both optional; unset sinks drop their calls).
//
// Files: the label folder is kept as an explicit base path (never the process's working
// directory). Per-frame files are replaced atomically (temporary file in a hidden sub-folder,
// then rename), so a crash leaves each file wholly old or wholly new.
class CLabelManager {
  public:
    using MessageSink = std::function<void(const std::string& text)>;
    using GoButtonSink = std::function<void(int label, bool enabled)>;

    CLabelManager();
    virtual ~CLabelManager();
    CLabelManager(const CLabelManager&) = delete;
    CLabelManager& operator=(const CLabelManager&) = delete;

    void SetMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    void SetGoButtonSink(GoButtonSink sink) { m_goButtonSink = std::move(sink); }

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

    int GetCurLabel() const { return m_nCurLabel; }
    void SetCurLabel(int label) { m_nCurLabel = label; }
    int GetSelLabel() const { return m_nSelLabel; }
    int GetSelFrame() const { return m_nSelFrame; }
    const std::string& GetSelKey() const { return m_strSelKey; }
    const std::string& GetVideoName() const { return m_strVideoName; }
    const std::filesystem::path& GetLabelFolder() const { return m_labelFolder; }

    // --- label folder and per-frame files ---
    // Empties the store and takes the video path without its last four characters as the
    // label folder: created when nothing is there (false), loaded when something is (true).
    // When it cannot be created, is no folder, or the video's name is too short to leave a
    // folder beside the video, nothing is read and every later write reports the failure.
    bool OpenVideo(const std::filesystem::path& videoPath);
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
    void BeginEditStep();
    void EndEditStep(int viewFrame);
    struct EditOutcome {
        int viewFrame = -1;
        std::vector<int> labels;  // labels on the frames the step changed, before or after
        bool changed = false;     // some frame was restored
    };
    // Puts back every frame the last step changed (records, count and file, byte for byte, a
    // file that did not exist removed again) and the selection before it. A file that cannot
    // be written shows the store's message once; that frame then stays as it is in memory and
    // on disk and the step stays to be undone again. False when there was nothing to undo or a
    // frame could not be restored.
    bool Undo(EditOutcome& out);
    // The same forwards: the state after the step that the last undo reverted.
    bool Redo(EditOutcome& out);
    bool CanUndo() const;
    bool CanRedo() const;
    const CEditHistory& EditHistory() const { return *m_pHistory; }

  private:
    // Makes an editing operation a step of its own unless the caller has opened one.
    struct StepScope {
        explicit StepScope(CLabelManager& m) : store(m) { store.BeginEditStep(); }
        ~StepScope() { store.EndEditStep(-1); }
        StepScope(const StepScope&) = delete;
        StepScope& operator=(const StepScope&) = delete;
        CLabelManager& store;
    };
    // Called before any change to a frame's records, count or file: the first time in a step,
    // the frame's state (its file's bytes included) is recorded as it is now.
    void TouchFrame(int frame);
    // A frame file was written (content) or removed (nullptr) during a step.
    void NoteFrameFile(int frame, const std::string* content);
    // Moves one frame of a step to its state before (undo) or after: the file first, then,
    // when that worked, the records and the count.
    bool RestoreFrame(const CEditHistory::FrameChange& change, bool undo);
    bool WriteFrameState(const CEditHistory::FrameChange& change, bool undo);
    // Removes a frame file; during a step the file is parked instead, when it still holds
    // what it held before the step. False when it could not be removed.
    bool RemoveFrameFile(int frame);
    std::filesystem::path ParkingFolder() const;
    bool EnsureParkingFolder();
    // Clears the history and deletes the files only it could have brought back.
    void DiscardHistory();
    void DeleteDiscardedParked();
    // Empties the hidden folder of moved-aside files left by an earlier run.
    void SweepParkedFiles();
    void ApplyStep(bool undo, EditOutcome& out, bool& complete);
    // Undo (true) or redo of one step, after closing a step left open.
    bool TakeStep(bool undo, EditOutcome& out);

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
    // Replaces a file of the label folder atomically: content goes to a temporary file in the
    // hidden sub-folder, which is then renamed over `target`. False on any failure; the old
    // file is then unchanged and no temporary is left behind.
    bool ReplaceFileAtomically(const std::filesystem::path& target, const std::string& content);

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

    MessageSink m_messageSink;
    GoButtonSink m_goButtonSink;

    std::unique_ptr<CEditHistory> m_pHistory;
};
