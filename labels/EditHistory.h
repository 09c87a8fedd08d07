#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "labels/ROI.h"

// The undo history of the label store: a bounded list of steps, each holding, for every frame
// that one operator action changed, that frame's records, count and file before and after the
// action, plus the selection before and after.
//
// It only keeps what it is given: CLabelManager captures the states and applies them (it owns
// the records and the files). Steps [0, done) can be undone, steps [done, end) redone; pushing a
// new step drops the redo steps. The oldest steps are dropped when there are more than
// `maxSteps` or they take more than `maxBytes` together; the newest step is always kept, so the
// last action can be undone however large it was.
//
// Ownership and threading: owned by the store, used on its thread only.
// Which way a step is taken: back to its state before, or forward again to its state after.
enum class StepDirection { Undo, Redo };

class CEditHistory {
  public:
    static constexpr size_t kMaxSteps = 1000;
    static constexpr size_t kMaxBytes = size_t{64} << 20;

    // One frame as the store and the disk held it.
    struct FrameState {
        std::vector<ROI> records;          // in the store's order
        std::vector<int> uncountedLabels;  // records read from a file with a label below 1
        int count = 0;                     // the frame's entry in the per-frame counts
        // The bytes of "<frame>.txt"; nullopt when no file of ours is there (absent, or a
        // folder of that name, which the store never touches).
        std::optional<std::string> file;
        // False when the file could not be read when captured: it is then written from the
        // records when this state is restored.
        bool fileKnown = true;
    };

    struct FrameChange {
        int frame = 0;
        FrameState before;
        FrameState after;
        // When the step removed the frame's file, the file itself was moved aside under this
        // name (in the store's process folder) rather than deleted: while the step is done it
        // is there, and undo moves it back (when it still holds the bytes the step recorded)
        // instead of creating the file again. Empty when not.
        std::string parked;
    };

    struct Selection {
        std::string key;
        int label = -1;
        int frame = -1;
    };

    struct Step {
        // The frame to show after undoing or redoing it: where the operator made the edit.
        int viewFrame = -1;
        Selection selBefore;
        Selection selAfter;
        long long countLengthBefore = 0;
        long long countLengthAfter = 0;
        std::vector<FrameChange> frames;
        size_t bytes = 0;  // estimated memory held by the step
    };

    explicit CEditHistory(size_t maxSteps = kMaxSteps, size_t maxBytes = kMaxBytes);

    void Clear();

    // --- the step being recorded ---
    // Steps opened while one is being recorded join it: only the outermost close ends it.
    // Open: true when this opens a new step. Close: true when the outermost closed (all: every
    // level at once, for a step whose action never finished).
    bool Open() { return m_nDepth++ == 0; }
    bool Close(bool all = false);
    bool IsRecording() const { return m_bRecording; }
    // Starts recording a new step; the caller fills in its selection and count length.
    Step& StartRecording();
    Step& Recording() { return m_recording; }
    // The frame's entry in the step being recorded, or nullptr when the frame is not in it yet.
    FrameChange* RecordedFrame(int frame);
    FrameChange& AddRecordedFrame(int frame);
    // Ends the recording: frames whose before and after states are equal are left out, and a
    // step that changed nothing (the selection alone is no edit) is dropped. Otherwise it
    // becomes the newest undo step and the redo steps are gone. Returns whether it was kept.
    bool FinishRecording();

    // --- undo and redo ---
    bool CanUndo() const { return m_nDone > 0; }
    bool CanRedo() const { return m_nDone < m_steps.size(); }
    // The step an undo would revert / a redo would apply (nullptr when none).
    const Step* NextUndo() const { return CanUndo() ? &m_steps[m_nDone - 1] : nullptr; }
    const Step* NextRedo() const { return CanRedo() ? &m_steps[m_nDone] : nullptr; }
    // The step the direction takes next, changeable (a redone deletion parks under a new name).
    Step* NextStep(StepDirection d) {
        if (d == StepDirection::Undo) {
            return CanUndo() ? &m_steps[m_nDone - 1] : nullptr;
        }
        return CanRedo() ? &m_steps[m_nDone] : nullptr;
    }
    void MarkUndone() { --m_nDone; }
    void MarkRedone() { ++m_nDone; }

    size_t StepCount() const { return m_steps.size(); }
    size_t Bytes() const { return m_nBytes; }

    // A new name for a parked file.
    std::string NextParkedName();
    // Names of parked files no step can bring back any more (their steps were dropped, or
    // ended unchanged); the store deletes them.
    std::vector<std::string> TakeDiscardedParked();

    static bool SameState(const FrameState& a, const FrameState& b);

  private:
    static size_t EstimateBytes(const Step& step);
    void DropOldest();
    void DiscardParked(const std::vector<FrameChange>& frames);

    size_t m_nMaxSteps;
    size_t m_nMaxBytes;
    std::deque<Step> m_steps;
    size_t m_nDone = 0;
    size_t m_nBytes = 0;

    int m_nDepth = 0;
    bool m_bRecording = false;
    Step m_recording;
    std::unordered_map<int, size_t> m_recordedIndex;  // frame -> index in m_recording.frames
    unsigned long long m_nParkedSerial = 0;
    std::vector<std::string> m_discardedParked;
};
