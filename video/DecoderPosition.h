#pragma once

// Where the picture decoder stands in the video: the number of the frame it delivers next, and
// what that number rests on. Every way the decoder moves is one named transition, so the three
// facts (number, how far it can be trusted, whether it was counted from the start) never go out
// of step.
//
//   kLost        nothing is known (after a failed read, or a seek not recognised yet)
//   kFromStart   counted from the first frame since the file was opened: exact by definition,
//                and its frames may extend the frame index
//   kRecognised  counted on from a frame the index recognised: a frame read on is proven only
//                where the index confirms its name
//   kGuessed     placed by the frame rate: proves nothing until the index confirms a name
class DecoderPosition {
  public:
    enum class Basis { kLost, kFromStart, kRecognised, kGuessed };

    static DecoderPosition Lost() { return DecoderPosition(Basis::kLost, -1); }
    static DecoderPosition AtStart() { return DecoderPosition(Basis::kFromStart, 0); }
    // `frame` was just decoded and is proven by the index.
    static DecoderPosition Recognised(int frame) {
        return DecoderPosition(Basis::kRecognised, frame + 1);
    }
    // `frame` was just decoded and is taken to be that frame by the frame rate alone.
    static DecoderPosition Guessed(int frame) {
        return DecoderPosition(Basis::kGuessed, frame + 1);
    }

    // One more frame came out of the decoder.
    void Advanced() { ++m_nNext; }
    // The frame that just came out is proven by the index: a guess becomes a recognised place.
    void Confirmed() {
        if (m_basis == Basis::kGuessed) {
            m_basis = Basis::kRecognised;
        }
    }

    Basis basis() const { return m_basis; }
    bool Known() const { return m_basis != Basis::kLost; }
    bool FromStart() const { return m_basis == Basis::kFromStart; }
    bool Guessed() const { return m_basis == Basis::kGuessed; }
    // The number of the frame the decoder delivers next; -1 when lost.
    int Next() const { return m_nNext; }

  private:
    DecoderPosition(Basis basis, int next) : m_basis(basis), m_nNext(next) {}
    Basis m_basis;
    int m_nNext;
};
