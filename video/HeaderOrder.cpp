#include "video/HeaderOrder.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

// H.264 NAL unit types that matter here.
constexpr int kNalSlice = 1;
constexpr int kNalPartitionA = 2;
constexpr int kNalPartitionC = 4;
constexpr int kNalIdrSlice = 5;
constexpr int kNalSei = 6;
constexpr int kNalSequenceSet = 7;
constexpr int kNalPictureSet = 8;
constexpr int kNalEndOfSequence = 10;
constexpr int kNalEndOfStream = 11;
constexpr int kNalPrefix = 14;
constexpr int kNalSubsetSps = 15;
constexpr int kNalAuxiliarySlice = 19;
constexpr int kNalDepthSlice = 21;

// What the headers of one packet say: how many pictures it starts, whether it is an IDR picture,
// whether its first slice is intra-coded, and the recovery point it announces (-1: none).
struct PacketInfo {
    int pictures = 0;
    int idr = -1;  // -1 until a slice is seen
    bool intra = false;
    uint32_t frameNum = 0;
    uint32_t maxFrameNum = 1;
    int recovery = -1;
};

// The first bytes of a NAL unit's payload with the emulation prevention bytes taken out.
std::vector<uint8_t> Unescape(const uint8_t* nal, size_t size, size_t most) {
    std::vector<uint8_t> out;
    int zeros = 0;
    for (size_t i = 1; i < size && out.size() < most; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        out.push_back(nal[i]);
    }
    return out;
}

// Exp-Golomb numbers from the start of a buffer; false when it runs out.
class Bits {
  public:
    explicit Bits(const std::vector<uint8_t>& data) : m_data(data) {}
    bool Ue(uint32_t& value) {
        int zeros = 0;
        int bit = 0;
        while (Bit(bit) && bit == 0) {
            if (++zeros > 31) {
                return false;
            }
        }
        if (bit != 1) {
            return false;
        }
        uint32_t rest = 0;
        for (int i = 0; i < zeros; ++i) {
            if (!Bit(bit)) {
                return false;
            }
            rest = (rest << 1) | static_cast<uint32_t>(bit);
        }
        value = (1u << zeros) - 1 + rest;
        return true;
    }
    bool Se(int32_t& value) {
        uint32_t code = 0;
        if (!Ue(code)) {
            return false;
        }
        value = (code & 1) != 0 ? static_cast<int32_t>((code + 1) / 2)
                                : -static_cast<int32_t>(code / 2);
        return true;
    }
    bool U(int bits, uint32_t& value) {
        value = 0;
        for (int i = 0; i < bits; ++i) {
            int bit = 0;
            if (!Bit(bit)) {
                return false;
            }
            value = (value << 1) | static_cast<uint32_t>(bit);
        }
        return true;
    }

  private:
    bool Bit(int& bit) {
        if (m_at >= m_data.size() * 8) {
            return false;
        }
        bit = (m_data[m_at / 8] >> (7 - m_at % 8)) & 1;
        ++m_at;
        return true;
    }
    const std::vector<uint8_t>& m_data;
    size_t m_at = 0;
};

// The recovery point message of an SEI unit, if it has one (its frame count in `recovery`).
bool ReadRecoveryPoint(const uint8_t* nal, size_t size, int& recovery) {
    const std::vector<uint8_t> sei = Unescape(nal, size, size);
    size_t at = 0;
    constexpr int kRecoveryPoint = 6;
    // Messages until only the trailing bits (one byte, 0x80) are left.
    while (at < sei.size() && !(at + 1 == sei.size() && sei[at] == 0x80)) {
        int type = 0;
        size_t length = 0;
        while (at < sei.size() && sei[at] == 0xff) {
            type += 255;
            ++at;
        }
        if (at >= sei.size()) {
            return false;
        }
        type += sei[at++];
        while (at < sei.size() && sei[at] == 0xff) {
            length += 255;
            ++at;
        }
        if (at >= sei.size()) {
            return false;
        }
        length += sei[at++];
        if (length > sei.size() - at) {
            return false;
        }
        if (type == kRecoveryPoint) {
            const std::vector<uint8_t> payload(
                sei.begin() + static_cast<std::ptrdiff_t>(at),
                sei.begin() + static_cast<std::ptrdiff_t>(at + length));
            Bits bits(payload);
            uint32_t count = 0;
            if (!bits.Ue(count) || count > 65535) {
                return false;
            }
            recovery = static_cast<int>(count);
        }
        at += length;
    }
    return true;
}

// What reading a slice header takes of the parameter sets.
struct ParameterSets {
    struct Sequence {
        int frameNumBits = 0;
        bool separatePlanes = false;
        uint32_t chromaFormat = 1;
        uint32_t bitDepthLuma = 8;
        uint32_t pocType = 0;
        int pocLsbBits = 0;
        bool deltaPocAlwaysZero = false;
        bool frameMbsOnly = true;
    };
    struct Picture {
        uint32_t sequence = 0;
        bool cabac = false;
        bool bottomFieldPocPresent = false;
        bool sliceGroups = false;
        uint32_t refDefault[2] = {1, 1};
        bool weightedPred = false;
        uint32_t weightedBipred = 0;
        int32_t initQp = 26;
        bool deblockingControl = false;
        bool redundantPicCount = false;
    };
    std::map<uint32_t, Sequence> sequences;
    std::map<uint32_t, Picture> pictures;
};

bool SkipScalingList(Bits& bits, int size) {
    int32_t last = 8;
    int32_t next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            int32_t delta = 0;
            if (!bits.Se(delta)) {
                return false;
            }
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

bool ReadSequenceSet(const uint8_t* nal, size_t size, ParameterSets& sets) {
    const std::vector<uint8_t> rbsp = Unescape(nal, size, 512);
    Bits bits(rbsp);
    uint32_t profile = 0, skip = 0, id = 0;
    if (!bits.U(8, profile) || !bits.U(16, skip) || !bits.Ue(id) || id > 31) {
        return false;
    }
    ParameterSets::Sequence sequence;
    constexpr uint32_t kHighProfiles[] = {100, 110, 122, 244, 44,  83, 86,
                                          118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(kHighProfiles), std::end(kHighProfiles), profile) !=
        std::end(kHighProfiles)) {
        uint32_t chroma = 0, flag = 0;
        if (!bits.Ue(chroma) || chroma > 3) {
            return false;
        }
        sequence.chromaFormat = chroma;
        if (chroma == 3) {
            if (!bits.U(1, flag)) {
                return false;
            }
            sequence.separatePlanes = flag != 0;
        }
        uint32_t depthLuma = 0, depthChroma = 0, bypass = 0, scaling = 0;
        if (!bits.Ue(depthLuma) || !bits.Ue(depthChroma) || !bits.U(1, bypass) ||
            !bits.U(1, scaling) || depthLuma > 6) {
            return false;
        }
        sequence.bitDepthLuma = depthLuma + 8;
        if (scaling != 0) {
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i) {
                if (!bits.U(1, flag) || (flag != 0 && !SkipScalingList(bits, i < 6 ? 16 : 64))) {
                    return false;
                }
            }
        }
    }
    uint32_t log2MaxFrameNumMinus4 = 0;
    if (!bits.Ue(log2MaxFrameNumMinus4) || log2MaxFrameNumMinus4 > 12) {
        return false;
    }
    sequence.frameNumBits = static_cast<int>(log2MaxFrameNumMinus4) + 4;
    uint32_t value = 0;
    if (!bits.Ue(sequence.pocType) || sequence.pocType > 2) {
        return false;
    }
    if (sequence.pocType == 0) {
        if (!bits.Ue(value) || value > 12) {
            return false;
        }
        sequence.pocLsbBits = static_cast<int>(value) + 4;
    } else if (sequence.pocType == 1) {
        int32_t offset = 0;
        if (!bits.U(1, value)) {
            return false;
        }
        sequence.deltaPocAlwaysZero = value != 0;
        uint32_t cycle = 0;
        if (!bits.Se(offset) || !bits.Se(offset) || !bits.Ue(cycle) || cycle > 255) {
            return false;
        }
        for (uint32_t i = 0; i < cycle; ++i) {
            if (!bits.Se(offset)) {
                return false;
            }
        }
    }
    uint32_t refs = 0, gaps = 0, width = 0, height = 0, frameMbsOnly = 0;
    if (!bits.Ue(refs) || !bits.U(1, gaps) || !bits.Ue(width) || !bits.Ue(height) ||
        !bits.U(1, frameMbsOnly)) {
        return false;
    }
    sequence.frameMbsOnly = frameMbsOnly != 0;
    sets.sequences[id] = sequence;
    return true;
}

bool ReadPictureSet(const uint8_t* nal, size_t size, ParameterSets& sets) {
    const std::vector<uint8_t> rbsp = Unescape(nal, size, 64);
    Bits bits(rbsp);
    uint32_t id = 0;
    ParameterSets::Picture picture;
    uint32_t cabac = 0, bottom = 0, groups = 0, weighted = 0, deblocking = 0, constrained = 0,
             redundant = 0;
    int32_t qp = 0, qs = 0, chromaOffset = 0;
    if (!bits.Ue(id) || !bits.Ue(picture.sequence) || id > 255 || picture.sequence > 31 ||
        !bits.U(1, cabac) || !bits.U(1, bottom) || !bits.Ue(groups) ||
        !bits.Ue(picture.refDefault[0]) || !bits.Ue(picture.refDefault[1]) ||
        !bits.U(1, weighted) || !bits.U(2, picture.weightedBipred) || !bits.Se(qp) ||
        !bits.Se(qs) || !bits.Se(chromaOffset) || !bits.U(1, deblocking) ||
        !bits.U(1, constrained) || !bits.U(1, redundant) || picture.refDefault[0] > 31 ||
        picture.refDefault[1] > 31) {
        return false;
    }
    picture.cabac = cabac != 0;
    picture.bottomFieldPocPresent = bottom != 0;
    picture.sliceGroups = groups != 0;
    picture.refDefault[0] += 1;
    picture.refDefault[1] += 1;
    picture.weightedPred = weighted != 0;
    picture.initQp = 26 + qp;
    picture.deblockingControl = deblocking != 0;
    picture.redundantPicCount = redundant != 0;
    sets.pictures[id] = picture;
    return true;
}

// The rest of a slice header after frame_num, with the checks by which the decoder refuses a
// damaged one (then it stops reading, which the headers cannot follow). False for a header the
// decoder would refuse, and for what the headers leave to decoding: a redundant picture, slice
// groups, a memory management reset.
bool CheckSliceHeader(Bits& bits, int type, int nalRefIdc, bool idr,
                      const ParameterSets::Sequence& sps, const ParameterSets::Picture& pps) {
    constexpr int kP = 0, kB = 1, kI = 2, kSp = 3, kSi = 4;
    uint32_t value = 0;
    int32_t signedValue = 0;
    bool field = false;
    if (!sps.frameMbsOnly) {
        if (!bits.U(1, value)) {
            return false;
        }
        field = value != 0;
        if (field && !bits.U(1, value)) {
            return false;
        }
    }
    if (idr && (!bits.Ue(value) || value > 65535)) {
        return false;
    }
    if (sps.pocType == 0) {
        if (!bits.U(sps.pocLsbBits, value) ||
            (pps.bottomFieldPocPresent && !field && !bits.Se(signedValue))) {
            return false;
        }
    }
    if (sps.pocType == 1 && !sps.deltaPocAlwaysZero) {
        if (!bits.Se(signedValue) ||
            (pps.bottomFieldPocPresent && !field && !bits.Se(signedValue))) {
            return false;
        }
    }
    if (pps.sliceGroups || (pps.redundantPicCount && (!bits.Ue(value) || value != 0))) {
        return false;
    }
    if (type == kB && !bits.U(1, value)) {
        return false;
    }
    uint32_t refs[2] = {pps.refDefault[0], pps.refDefault[1]};
    const int lists = type == kB ? 2 : (type == kP || type == kSp) ? 1 : 0;
    if (lists > 0) {
        if (!bits.U(1, value)) {
            return false;
        }
        if (value != 0) {
            for (int l = 0; l < lists; ++l) {
                if (!bits.Ue(refs[l]) || refs[l] > 31) {
                    return false;
                }
                refs[l] += 1;
            }
        }
        const uint32_t most = field ? 32 : 16;
        if (refs[0] > most || (lists == 2 && refs[1] > most)) {
            return false;
        }
        for (int l = 0; l < lists; ++l) {
            if (!bits.U(1, value)) {
                return false;
            }
            for (uint32_t n = 0; value != 0; ++n) {
                uint32_t idc = 0;
                if (!bits.Ue(idc) || idc > 3 || (idc != 3 && n >= refs[l])) {
                    return false;
                }
                if (idc == 3) {
                    break;
                }
                if (!bits.Ue(value)) {
                    return false;
                }
                value = 1;
            }
        }
    }
    if ((pps.weightedPred && (type == kP || type == kSp)) ||
        (pps.weightedBipred == 1 && type == kB)) {
        const bool chroma = !sps.separatePlanes && sps.chromaFormat != 0;
        if (!bits.Ue(value) || value > 7 || (chroma && (!bits.Ue(value) || value > 7))) {
            return false;
        }
        for (int l = 0; l < lists; ++l) {
            for (uint32_t i = 0; i < refs[l]; ++i) {
                for (int part = 0; part < (chroma ? 2 : 1); ++part) {
                    if (!bits.U(1, value)) {
                        return false;
                    }
                    for (int k = 0; value != 0 && k < (part == 0 ? 2 : 4); ++k) {
                        if (!bits.Se(signedValue)) {
                            return false;
                        }
                    }
                }
            }
        }
    }
    if (nalRefIdc != 0) {
        if (idr) {
            if (!bits.U(2, value)) {
                return false;
            }
        } else {
            if (!bits.U(1, value)) {
                return false;
            }
            constexpr uint32_t kMostOperations = 66;
            for (uint32_t n = 0; value != 0; ++n) {
                uint32_t operation = 0;
                constexpr uint32_t kReset = 5;
                if (n >= kMostOperations || !bits.Ue(operation) || operation > 6 ||
                    operation == kReset) {
                    return false;
                }
                if (operation == 0) {
                    break;
                }
                if ((operation == 1 || operation == 3) && !bits.Ue(value)) {
                    return false;
                }
                if ((operation == 2 || operation == 3 || operation == 4 || operation == 6) &&
                    !bits.Ue(value)) {
                    return false;
                }
                value = 1;
            }
        }
    }
    if (pps.cabac && type != kI && type != kSi && (!bits.Ue(value) || value > 2)) {
        return false;
    }
    if (!bits.Se(signedValue)) {
        return false;
    }
    const int64_t qp = static_cast<int64_t>(pps.initQp) + signedValue;
    if (qp < 0 || qp > 51 + 6 * (static_cast<int64_t>(sps.bitDepthLuma) - 8)) {
        return false;
    }
    if ((type == kSp && !bits.U(1, value)) ||
        ((type == kSp || type == kSi) && !bits.Se(signedValue))) {
        return false;
    }
    if (pps.deblockingControl) {
        if (!bits.Ue(value) || value > 2) {
            return false;
        }
        if (value != 1) {
            int32_t alpha = 0, beta = 0;
            if (!bits.Se(alpha) || !bits.Se(beta) || alpha < -6 || alpha > 6 || beta < -6 ||
                beta > 6) {
                return false;
            }
        }
    }
    return true;
}

// One NAL unit of a packet; false for a unit after which the decoder's output can no longer be
// told from headers (partitioned, auxiliary or layered slices, the end of a sequence, an IDR and
// a non-IDR slice in one picture, a damaged header).
bool ScanNal(const uint8_t* nal, size_t size, ParameterSets& sets, PacketInfo& info) {
    if (size == 0) {
        return true;
    }
    if ((nal[0] & 0x80) != 0) {
        return false;
    }
    const int type = nal[0] & 0x1f;
    const bool unsafe = (type >= kNalPartitionA && type <= kNalPartitionC) ||
                        type == kNalEndOfSequence || type == kNalEndOfStream ||
                        type == kNalPrefix || type == kNalSubsetSps ||
                        (type >= kNalAuxiliarySlice && type <= kNalDepthSlice);
    if (unsafe) {
        return false;
    }
    if (type == kNalSei) {
        return ReadRecoveryPoint(nal, size, info.recovery);
    }
    if (type == kNalSequenceSet) {
        return ReadSequenceSet(nal, size, sets);
    }
    if (type == kNalPictureSet) {
        return ReadPictureSet(nal, size, sets);
    }
    if (type != kNalSlice && type != kNalIdrSlice) {
        return true;
    }
    const int isIdr = type == kNalIdrSlice ? 1 : 0;
    if (info.idr >= 0 && info.idr != isIdr) {
        return false;
    }
    info.idr = isIdr;
    const std::vector<uint8_t> header = Unescape(nal, size, 512);
    Bits bits(header);
    uint32_t firstMb = 0;
    uint32_t sliceType = 0;
    uint32_t pictureSet = 0;
    if (!bits.Ue(firstMb) || !bits.Ue(sliceType) || sliceType > 9 || !bits.Ue(pictureSet)) {
        return false;
    }
    // Slice types 2 and 7: I; 4 and 9: SI. An IDR picture of another type the decoder refuses.
    const bool intra = sliceType % 5 == 2 || sliceType % 5 == 4;
    if (isIdr == 1 && !intra) {
        return false;
    }
    const auto picture = sets.pictures.find(pictureSet);
    if (picture == sets.pictures.end()) {
        return false;
    }
    const auto sequence = sets.sequences.find(picture->second.sequence);
    if (sequence == sets.sequences.end()) {
        return false;
    }
    uint32_t plane = 0;
    uint32_t frameNum = 0;
    if ((sequence->second.separatePlanes && !bits.U(2, plane)) ||
        !bits.U(sequence->second.frameNumBits, frameNum) ||
        !CheckSliceHeader(bits, static_cast<int>(sliceType % 5), (nal[0] >> 5) & 3, isIdr == 1,
                          sequence->second, picture->second)) {
        return false;
    }
    // The slices of one picture agree on frame_num, or the decoder refuses them.
    if (firstMb != 0 && info.pictures > 0 && frameNum != info.frameNum) {
        return false;
    }
    if (firstMb == 0) {
        ++info.pictures;
        info.intra = intra;
        info.frameNum = frameNum;
        info.maxFrameNum = 1u << sequence->second.frameNumBits;
    }
    return true;
}

// Every NAL unit of a packet, length-prefixed (MP4, MKV) or behind start codes (TS, raw).
bool ScanPacket(const uint8_t* data, size_t size, int lengthSize, ParameterSets& sets,
                PacketInfo& info) {
    if (lengthSize > 0) {
        size_t at = 0;
        while (at < size) {
            if (size - at < static_cast<size_t>(lengthSize)) {
                return false;
            }
            size_t length = 0;
            for (int i = 0; i < lengthSize; ++i) {
                length = (length << 8) | data[at + static_cast<size_t>(i)];
            }
            at += static_cast<size_t>(lengthSize);
            if (length > size - at || !ScanNal(data + at, length, sets, info)) {
                return false;
            }
            at += length;
        }
        return true;
    }
    // Start codes: 00 00 01; a unit runs to the next one (trailing zeros do no harm).
    size_t at = 0;
    size_t start = SIZE_MAX;
    while (at + 3 <= size) {
        if (data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1) {
            if (start != SIZE_MAX && !ScanNal(data + start, at - start, sets, info)) {
                return false;
            }
            at += 3;
            start = at;
        } else {
            ++at;
        }
    }
    return start != SIZE_MAX && ScanNal(data + start, size - start, sets, info);
}

// The parameter sets the container carries apart from the packets: an MP4/MKV configuration
// record (its sequence and picture sets, each behind a 16-bit length), or units behind start
// codes.
bool ReadExtradata(const uint8_t* data, size_t size, ParameterSets& sets) {
    if (size == 0) {
        return true;
    }
    if (data[0] != 1) {
        PacketInfo ignored;
        return ScanPacket(data, size, 0, sets, ignored) && ignored.pictures == 0;
    }
    if (size < 6) {
        return false;
    }
    size_t at = 5;
    for (int list = 0; list < 2; ++list) {
        if (at >= size) {
            return false;
        }
        const int count = list == 0 ? data[at] & 0x1f : data[at];
        ++at;
        for (int i = 0; i < count; ++i) {
            if (size - at < 2) {
                return false;
            }
            const size_t length = static_cast<size_t>(data[at]) << 8 | data[at + 1];
            at += 2;
            PacketInfo ignored;
            if (length > size - at || !ScanNal(data + at, length, sets, ignored)) {
                return false;
            }
            at += length;
        }
    }
    return true;
}

struct ParserDeleter {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct ContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

}  // namespace

bool CHeaderOrder::OrderModel::Add(int poc, bool idr, const IndexedFrame& frame) {
    // The decoder keeps the last 16 POCs; a picture below all of them is taken for the start of
    // a new sequence. Only an IDR picture may be one here.
    int i = 0;
    for (;; ++i) {
        if (i == kTracked || poc < m_lastPocs[static_cast<size_t>(i)]) {
            if (i > 0) {
                m_lastPocs[static_cast<size_t>(i - 1)] = poc;
            }
            break;
        }
        if (i > 0) {
            m_lastPocs[static_cast<size_t>(i - 1)] = m_lastPocs[static_cast<size_t>(i)];
        }
    }
    if (i == 0) {
        if (!idr) {
            return false;
        }
        m_lastPocs.fill(INT_MIN);
        m_lastPocs[0] = poc;
    }
    // A key frame stops the decoder's search for the lowest POC. That changes nothing only when
    // every picture from a key frame on comes after every picture before it; then the order is
    // that of the POCs whatever the decoder's delay.
    if (idr) {
        m_nSequenceMax = INT_MIN;
        m_nBarrier = INT_MIN;
    } else if (frame.key) {
        m_nBarrier = m_nSequenceMax;
    }
    if (poc <= m_nBarrier) {
        return false;
    }
    m_nSequenceMax = std::max(m_nSequenceMax, poc);
    m_held.push_back({poc, idr, frame});
    const size_t out = Lowest();
    if (m_nDelay == 0 && m_held[0].frame.key) {
        m_nNextOut = INT_MIN;
    }
    // Lower than one already given out: the decoder would drop it, or wait longer than the
    // delay known here; either way the order is not the one replayed.
    if (m_held[out].poc < m_nNextOut) {
        return false;
    }
    if (static_cast<int>(m_held.size()) > m_nDelay) {
        Emit(out);
    }
    return true;
}

size_t CHeaderOrder::OrderModel::Lowest() const {
    size_t out = 0;
    for (size_t k = 1; k < m_held.size() && !m_held[k].frame.key; ++k) {
        if (m_held[k].poc < m_held[out].poc) {
            out = k;
        }
    }
    return out;
}

void CHeaderOrder::OrderModel::Emit(size_t at) {
    const Picture p = m_held[at];
    m_held.erase(m_held.begin() + static_cast<std::ptrdiff_t>(at));
    m_nNextOut = at == 0 && !m_held.empty() && m_held[0].frame.key ? INT_MIN : p.poc;
    if (p.idr) {
        // A new sequence comes out: nothing after can come out before it.
        m_settled.insert(m_settled.end(), m_pending.begin(), m_pending.end());
        m_pending.clear();
    }
    m_pending.push_back(p.frame);
}

void CHeaderOrder::OrderModel::Flush() {
    while (!m_held.empty()) {
        Emit(Lowest());
    }
    m_settled.insert(m_settled.end(), m_pending.begin(), m_pending.end());
    m_pending.clear();
}

std::vector<IndexedFrame> CHeaderOrder::OrderModel::TakeSettled() {
    std::vector<IndexedFrame> out;
    out.swap(m_settled);
    return out;
}

CHeaderOrder::Result CHeaderOrder::Read(
    const std::filesystem::path& video, const std::atomic<bool>& stop,
    const std::function<bool(std::vector<IndexedFrame>&)>& hand) {
    CFrameDecoder decoder;
    if (!decoder.Open(video, 1, CFrameDecoder::Mode::kIndexOnly)) {
        return Result::kNotApplicable;
    }
    const AVCodecParameters* par = decoder.Parameters();
    const int delay = decoder.DecoderDelay();
    if (par == nullptr || par->codec_id != AV_CODEC_ID_H264 || delay < 0 || delay >= 16) {
        return Result::kNotApplicable;
    }
    // MP4 and MKV give the length of each NAL unit in this many bytes; 0: start codes.
    const int lengthSize =
        par->extradata_size >= 7 && par->extradata[0] == 1 ? (par->extradata[4] & 3) + 1 : 0;
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(nullptr));
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(AV_CODEC_ID_H264));
    if (!context || !parser || avcodec_parameters_to_context(context.get(), par) < 0) {
        return Result::kNotApplicable;
    }
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    ParameterSets sets;
    if (par->extradata != nullptr &&
        !ReadExtradata(par->extradata, static_cast<size_t>(par->extradata_size), sets)) {
        return Result::kNotApplicable;
    }

    OrderModel model(delay);
    const int64_t limit = decoder.FrameLimit();
    int64_t handed = 0;
    // False when the taker wants no more.
    const auto handSettled = [&] {
        std::vector<IndexedFrame> frames = model.TakeSettled();
        if (frames.empty()) {
            return true;
        }
        if (static_cast<int64_t>(frames.size()) > limit - handed) {
            frames.resize(static_cast<size_t>(limit - handed));
        }
        handed += static_cast<int64_t>(frames.size());
        return hand(frames);
    };
    bool first = true;
    uint32_t lastFrameNum = 0;
    while (const AVPacket* packet = decoder.NextPacket()) {
        if (stop) {
            return Result::kStopped;
        }
        if (packet->size <= 0 || (packet->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT)) ||
            av_packet_get_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, nullptr) != nullptr) {
            return Result::kNotApplicable;
        }
        PacketInfo info;
        if (!ScanPacket(packet->data, static_cast<size_t>(packet->size), lengthSize, sets, info) ||
            info.pictures != 1 || (first && info.idr != 1)) {
            return Result::kNotApplicable;
        }
        first = false;
        const bool idr = info.idr == 1;
        // A gap in frame_num (a reference picture lost on the way) makes the decoder invent
        // the missing pictures and forget the POCs it knew, after which it may drop frames.
        if (!idr && info.frameNum != lastFrameNum &&
            info.frameNum != (lastFrameNum + 1) % info.maxFrameNum) {
            return Result::kNotApplicable;
        }
        lastFrameNum = info.frameNum;
        // The decoder calls a frame a key frame when it is an IDR picture, or an intra picture
        // announced as a recovery point that is whole at once (an open group of pictures); a
        // gradual recovery (intra refresh) on an inter picture is not one. Other recovery
        // points are left to decoding.
        bool key = idr;
        if (!idr && info.recovery >= 0) {
            if (info.intra && info.recovery == 0) {
                key = true;
            } else if (info.intra || info.recovery == 0) {
                return Result::kNotApplicable;
            }
        }
        // Marked beforehand, so that a packet the parser makes nothing of is not taken for one
        // with the previous packet's figures.
        parser->output_picture_number = INT_MIN;
        parser->picture_structure = AV_PICTURE_STRUCTURE_UNKNOWN;
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser.get(), context.get(), &out, &outSize, packet->data,
                                          packet->size, packet->pts, packet->dts, packet->pos);
        if (used != packet->size || outSize != packet->size ||
            parser->picture_structure != AV_PICTURE_STRUCTURE_FRAME ||
            parser->output_picture_number == INT_MIN) {
            return Result::kNotApplicable;
        }
        IndexedFrame frame;
        frame.id.pos = packet->pos;
        frame.id.pts = packet->pts == AV_NOPTS_VALUE ? kNoTimestamp : packet->pts;
        frame.id.size = packet->size;
        frame.key = key;
        if (!model.Add(parser->output_picture_number, idr, frame)) {
            return Result::kNotApplicable;
        }
        if (!handSettled()) {
            return Result::kStopped;
        }
        if (handed >= limit) {
            return Result::kEndOfFile;
        }
    }
    if (decoder.ReadFailed()) {
        return Result::kReadError;
    }
    if (decoder.GaveUp()) {
        return Result::kNotApplicable;
    }
    model.Flush();
    return handSettled() ? Result::kEndOfFile : Result::kStopped;
}
