#include "imaging/compression/ccitt_decoders.h"

#include "imaging/compression/ccitt_codes.h"
#include "imaging/strings/messages.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::array<uint8_t, 256> MakeReversedBytes()
{
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (i & (1u << bit))
                r |= 0x80u >> bit;
        table[i] = static_cast<uint8_t>(r);
    }
    return table;
}

constexpr std::array<uint8_t, 256> ReversedBytes = MakeReversedBytes();

// Bits looked at at once at the start of a code: the longest code and the
// bit after it.
constexpr uint32_t CodeWindow = 13;

} // namespace

TCCITTDecoder::TCCITTDecoder(int Options, bool SwapBits, bool WordAligned, uint32_t Width)
    : FWordAligned(WordAligned),
      FOptions(static_cast<uint32_t>(Options)),
      FSwapBits(SwapBits),
      FWidth(Width),
      FRowBytes((static_cast<size_t>(Width) + 7) / 8),
      FWhiteTable(&CodeTable(true)),
      FBlackTable(&CodeTable(false))
{
}

const TCCITTDecoder::TCodeTable& TCCITTDecoder::CodeTable(bool White)
{
    static const auto make = [](bool white) {
        TCodeTable table;
        std::vector<TTreeNode>& tree = table.Tree;
        tree.reserve(256);
        tree.emplace_back();
        const auto& terminating = white ? ccitt::WhiteTerminating : ccitt::BlackTerminating;
        const auto& makeUp = white ? ccitt::WhiteMakeUp : ccitt::BlackMakeUp;
        for (int32_t run = 0; run < 64; ++run)
            AddCode(tree, terminating[run], run);
        for (int32_t k = 0; k < 27; ++k)
            AddCode(tree, makeUp[k], 64 * (k + 1));
        for (int32_t k = 0; k < 13; ++k)
            AddCode(tree, ccitt::ExtendedMakeUp[k], 64 * (k + 28));
        AddCode(tree, ccitt::EndOfLineCode, EndOfLine);
        for (const char* code : ccitt::InvalidCodes)
            AddCode(tree, code, InvalidCode);
        table.Codes.assign(size_t(1) << CodeWindow, 0);
        for (uint32_t bits = 0; bits < (1u << CodeWindow); ++bits) {
            int32_t at = 0;
            for (uint32_t taken = 0; taken < CodeWindow; ++taken) {
                const int32_t child = tree[size_t(at)].Child[(bits >> (CodeWindow - 1 - taken)) & 1];
                if (child == 0) {
                    if (taken > 0)
                        table.Codes[bits] = static_cast<int32_t>(uint32_t(tree[size_t(at)].Value) << 4 | taken);
                    break;
                }
                at = child;
            }
        }
        return table;
    };
    static const TCodeTable white = make(true);
    static const TCodeTable black = make(false);
    return White ? white : black;
}

void TCCITTDecoder::AddCode(std::vector<TTreeNode>& Tree, const char* Code, int32_t Value)
{
    int32_t node = 0;
    for (const char* bit = Code; *bit; ++bit) {
        const int b = *bit == '1';
        if (Tree[node].Child[b] == 0) {
            Tree[node].Child[b] = static_cast<int32_t>(Tree.size());
            Tree.emplace_back();
        }
        node = Tree[node].Child[b];
    }
    Tree[node].Value = Value;
}

void TCCITTDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

void TCCITTDecoder::Begin(const uint8_t* Source, size_t SourceCount, uint8_t* Target, size_t TargetCount)
{
    FSourceStart = Source;
    FSource = Source;
    FSourceEnd = Source + SourceCount;
    FBits = 0;
    FBitsLeft = 0;
    FTarget = Target;
    FTargetCount = TargetCount;
    FRowStart = 0;
    FRestWidth = FWidth;
    FIsWhite = true;
    if (TargetCount > 0)
        std::memset(Target, 0, TargetCount);
}

inline void TCCITTDecoder::LoadByte()
{
    const uint8_t byte = *FSource++;
    FBits = FSwapBits ? ReversedBytes[byte] : byte;
    FBitsLeft = 8;
}

int TCCITTDecoder::ReadBit()
{
    if (FBitsLeft == 0) {
        if (FSource == FSourceEnd)
            return 0;
        LoadByte();
    }
    --FBitsLeft;
    return (FBits >> FBitsLeft) & 1;
}

void TCCITTDecoder::SkipToEndOfLine()
{
    int zeros = 0;
    while (zeros < 11 && BitsRemain())
        zeros = ReadBit() ? 0 : zeros + 1;
    // Fill bits, then the closing 1 of the end-of-line code.
    while (BitsRemain() && ReadBit() == 0) {
    }
}

int64_t TCCITTDecoder::DecodeRun()
{
    const TCodeTable& table = FIsWhite ? *FWhiteTable : *FBlackTable;
    const TTreeNode* tree = table.Tree.data();
    int64_t sum = 0;
    int32_t node = 0;
    for (;;) {
        if (node == 0) {
            // At the start of a code, with the next 13 bits at hand: the
            // table gives the code and its length at once. The pointers end
            // as the walk below leaves them: past the code, with the byte
            // of the bit after it loaded.
            uint32_t window = FBits & ((1u << FBitsLeft) - 1);
            uint32_t have = FBitsLeft;
            for (const uint8_t* p = FSource; have < CodeWindow && p != FSourceEnd; ++p, have += 8)
                window = window << 8 | (FSwapBits ? ReversedBytes[*p] : *p);
            const int32_t code = have >= CodeWindow ? table.Codes[(window >> (have - CodeWindow)) &
                                                                  ((1u << CodeWindow) - 1)]
                                                    : 0;
            if (code != 0) {
                const uint32_t length = uint32_t(code) & 15u;
                if (length < FBitsLeft) {
                    FBitsLeft -= length;
                } else {
                    const uint32_t beyond = length - FBitsLeft; // bits taken from later bytes
                    FSource += beyond / 8;
                    LoadByte();
                    FBitsLeft = 8 - beyond % 8;
                }
                const int32_t value = code >> 4;
                if (value < 0)
                    return value;
                sum += value;
                if (value < 64)
                    return sum;
                continue;
            }
        }
        if (FBitsLeft == 0) {
            if (FSource == FSourceEnd) {
                // The data end right after a code: that code still counts.
                const int32_t value = tree[node].Value;
                return value < 0 ? value : sum + value;
            }
            LoadByte();
        }
        const int bit = (FBits >> (FBitsLeft - 1)) & 1;
        int32_t child = tree[node].Child[bit];
        if (child == 0) {
            // The node ends a code (or the bits are no code, value 0); the
            // looked-at bit starts the next code.
            const int32_t value = tree[node].Value;
            if (value < 0)
                return value;
            sum += value;
            if (value < 64)
                return sum;
            child = tree[0].Child[bit];
        }
        --FBitsLeft;
        node = child;
    }
}

bool TCCITTDecoder::WriteRun(int64_t Count)
{
    if (Count <= 0 || FRestWidth == 0)
        return FRestWidth == 0;
    const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(Count, FRestWidth));
    if (!FIsWhite && FRowStart < FTargetCount) {
        const size_t first = FWidth - FRestWidth; // pixel positions in the row
        const size_t last = first + n - 1;
        uint8_t* row = FTarget + FRowStart;
        const size_t room = FTargetCount - FRowStart; // the last row may be cut by the target
        const size_t b0 = first >> 3;
        const size_t b1 = last >> 3;
        const uint8_t headMask = static_cast<uint8_t>(0xFFu >> (first & 7));
        const uint8_t tailMask = static_cast<uint8_t>(0xFFu << (7 - (last & 7)));
        if (b0 == b1) {
            if (b0 < room)
                row[b0] |= headMask & tailMask;
        } else if (b0 < room) {
            row[b0] |= headMask;
            const size_t fullEnd = std::min(b1, room);
            if (fullEnd > b0 + 1)
                std::memset(row + b0 + 1, 0xFF, fullEnd - b0 - 1);
            if (b1 < room)
                row[b1] |= tailMask;
        }
    }
    FRestWidth -= n;
    return FRestWidth == 0;
}

void TCCITTDecoder::RowEnd()
{
    FRowStart += FRowBytes;
    FRestWidth = FWidth;
    FIsWhite = true;
}

TExpandResult TCCITTDecoder::Result() const
{
    const size_t rows = FRowStart + (RowEmpty() ? 0 : FRowBytes);
    return {static_cast<size_t>(FSource - FSourceStart), std::min(rows, FTargetCount)};
}

TExpandResult TCCITTFax3Decoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                        size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    Begin(Source, std::min(SourceSize, PackedSize), Target, std::min(TargetSize, UnpackedSize));
    if (RowBytes() == 0)
        return Result();
    // End-of-line codes met while decoding the previous row: the next row
    // then follows at once and needs no search for its end-of-line code.
    int endOfLines = 0;
    while (!RowsFull() && BitsRemain()) {
        if (endOfLines == 0) {
            SkipToEndOfLine();
            if (!BitsRemain())
                break;
        }
        endOfLines = 0;
        FIsWhite = true;
        // False while the row holds nothing but an end-of-line code (the
        // repeated codes that close a page) or the fill bits before the
        // data end: such a row is no row.
        bool started = false;
        for (;;) {
            const int64_t run = DecodeRun();
            if (run == EndOfLine) {
                ++endOfLines;
                break;
            }
            started = true;
            if (run < 0)
                break;
            if (run == 0 && !BitsRemain() && RowEmpty())
                started = false;
            if (WriteRun(run) || !BitsRemain())
                break;
            FIsWhite = !FIsWhite;
        }
        if (started)
            RowEnd();
    }
    return Result();
}

TExpandResult TCCITTMHDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                      size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    Begin(Source, std::min(SourceSize, PackedSize), Target, std::min(TargetSize, UnpackedSize));
    if (RowBytes() == 0)
        return Result();
    while (!RowsFull() && BitsRemain()) {
        const int64_t run = DecodeRun();
        if (run > 0 && WriteRun(run)) {
            RowEnd();
            // Every row starts on a byte boundary, with the word-aligned
            // option on a 16-bit boundary of the strip.
            if (BitsLeft() < 8)
                DropBits();
            if (FWordAligned && UnreadOffset() % 2 != 0) {
                if (BitsLeft() == 8)
                    DropBits();
                else
                    SkipByte();
            }
            continue;
        }
        FIsWhite = !FIsWhite;
    }
    return Result();
}

const std::array<uint8_t, 256> TCCITTDecoder::Reversed = MakeReversedBytes();

uint32_t TCCITTDecoder::PeekLongBits(uint32_t Count) const
{
    uint32_t window = FBits & ((1u << FBitsLeft) - 1);
    uint32_t have = FBitsLeft;
    for (const uint8_t* p = FSource; have < Count; have += 8) {
        uint8_t byte = 0;
        if (p != FSourceEnd) {
            byte = *p++;
            if (FSwapBits)
                byte = ReversedBytes[byte];
        }
        window = window << 8 | byte;
    }
    return (window >> (have - Count)) & ((1u << Count) - 1);
}

void TCCITTDecoder::SkipLongBits(uint32_t Count)
{
    Count -= FBitsLeft;
    FBitsLeft = 0;
    const size_t bytes = std::min<size_t>(Count / 8, static_cast<size_t>(FSourceEnd - FSource));
    FSource += bytes;
    if (Count % 8 != 0 && FSource != FSourceEnd) {
        LoadByte();
        FBitsLeft = 8 - Count % 8;
    }
}

namespace {

// The coding modes of two-dimensional rows, looked up by their next 7 bits.
enum TMode : uint8_t { mdBad, mdPass, mdHorizontal, mdVertical, mdExtension };
struct TModeCode {
    TMode Mode = mdBad;
    uint8_t Length = 0;
    int8_t Offset = 0; // a1 - b1 of the vertical modes
};

constexpr std::array<TModeCode, 128> MakeModeCodes()
{
    std::array<TModeCode, 128> table{};
    for (uint32_t bits = 0; bits < 128; ++bits) {
        TModeCode& m = table[bits];
        if (bits & 0x40)
            m = {mdVertical, 1, 0};
        else if ((bits >> 4) == 3)
            m = {mdVertical, 3, 1};
        else if ((bits >> 4) == 2)
            m = {mdVertical, 3, -1};
        else if ((bits >> 4) == 1)
            m = {mdHorizontal, 3, 0};
        else if ((bits >> 3) == 1)
            m = {mdPass, 4, 0};
        else if ((bits >> 1) == 3)
            m = {mdVertical, 6, 2};
        else if ((bits >> 1) == 2)
            m = {mdVertical, 6, -2};
        else if (bits == 3)
            m = {mdVertical, 7, 3};
        else if (bits == 2)
            m = {mdVertical, 7, -3};
        else if (bits == 1)
            m = {mdExtension, 7, 0};
    }
    return table;
}

constexpr std::array<TModeCode, 128> ModeCodes = MakeModeCodes();

// The extension code that switches to uncompressed mode: 0000001 and 111.
constexpr uint32_t UncompressedExtension = 7;

// Sets the pixels First..Last-1 of a packed row (Room bytes of it are in
// the buffer) to black.
void FillBlack(uint8_t* row, size_t room, size_t first, size_t last)
{
    if (first >= last)
        return;
    const size_t b0 = first >> 3;
    const size_t b1 = (last - 1) >> 3;
    if (b0 >= room)
        return;
    const uint8_t head = static_cast<uint8_t>(0xFFu >> (first & 7));
    const uint8_t tail = static_cast<uint8_t>(0xFFu << (7 - ((last - 1) & 7)));
    if (b0 == b1) {
        row[b0] |= head & tail;
        return;
    }
    row[b0] |= head;
    const size_t fullEnd = std::min(b1, room);
    if (fullEnd > b0 + 1)
        std::memset(row + b0 + 1, 0xFF, fullEnd - b0 - 1);
    if (b1 < room)
        row[b1] |= tail;
}

// Sentinels after the changing elements of a row: b1 and b2 are always found.
constexpr size_t Sentinels = 4;

} // namespace

TCCITT2DDecoder::TCCITT2DDecoder(int Options, bool SwapBits, uint32_t Width)
    : TCCITTDecoder(Options, SwapBits, false, Width)
{
}

void TCCITT2DDecoder::ResetReference()
{
    FReference.assign(Sentinels, Width());
}

bool TCCITT2DDecoder::DecodeRow2D()
{
    FCoding.clear();
    FEnd = 0;
    const int64_t width = Width();
    const uint32_t* ref = FReference.data();
    int64_t a0 = -1; // before the first pixel
    uint32_t colour = 0; // 0 white, 1 black: the colour of a0
    size_t b = 0;        // index of b1 in the reference
    while (a0 < width) {
        if (!BitsRemain())
            return false;
        // b1: the first changing element right of a0 whose colour is the
        // opposite of a0's (even entries turn to black); b2 the one after.
        if (b > 0)
            --b;
        if ((b & 1) != colour)
            ++b;
        while (ref[b] <= a0)
            b += 2;
        const int64_t b1 = ref[b];
        // V0, by far the commonest code: a single 1 bit, a1 = b1 (which lies
        // right of a0 and within the row).
        if (NextBitIsOne()) {
            SkipBits(1);
            if (!AddChange(b1))
                return false;
            a0 = b1;
            colour ^= 1;
            continue;
        }
        const TModeCode mode = ModeCodes[PeekBits(7)];
        const int64_t b2 = ref[b + 1];
        const int64_t start = std::max<int64_t>(a0, 0);
        switch (mode.Mode) {
        case mdPass:
            SkipBits(mode.Length);
            a0 = b2;
            FEnd = std::min(b2, width);
            break;
        case mdVertical: {
            SkipBits(mode.Length);
            const int64_t a1 = b1 + mode.Offset;
            if (a1 < start || a1 > width || !AddChange(a1))
                return false;
            a0 = a1;
            colour ^= 1;
            break;
        }
        case mdHorizontal: {
            SkipBits(mode.Length);
            int64_t a1 = start;
            for (int k = 0; k < 2; ++k) {
                FIsWhite = (colour ^ uint32_t(k)) == 0;
                const int64_t run = DecodeRun();
                if (run < 0)
                    return false;
                a1 = std::min(a1 + run, width);
                if (!AddChange(a1))
                    return false;
            }
            a0 = a1;
            break;
        }
        case mdExtension:
            if ((Options() & 2) && (PeekBits(10) & 7) == UncompressedExtension)
                CompressionError(msg::CCITTUncompressedMode);
            return false;
        default:
            return false; // an end-of-line code or bits that are no code
        }
    }
    return true;
}

bool TCCITT2DDecoder::DecodeRow1D()
{
    FCoding.clear();
    FEnd = 0;
    FMetEndOfLine = false;
    const int64_t width = Width();
    int64_t a0 = 0;
    uint32_t colour = 0;
    while (a0 < width) {
        if (!BitsRemain())
            return false;
        FIsWhite = colour == 0;
        const int64_t run = DecodeRun();
        if (run < 0) {
            FMetEndOfLine = run == EndOfLine;
            return false;
        }
        a0 = std::min(a0 + run, width);
        if (!AddChange(a0))
            return false;
        colour ^= 1;
    }
    return true;
}

void TCCITT2DDecoder::FinishRow()
{
    const int64_t width = Width();
    const auto clip = [width](int64_t x) { return static_cast<size_t>(std::clamp<int64_t>(x, 0, width)); };
    if (uint8_t* row = RowTarget()) {
        const size_t room = std::min(RowRoom(), RowBytes());
        const size_t n = FCoding.size();
        // Black from each even changing element to the next; an odd last
        // one is black to where the row was decoded.
        for (size_t k = 0; k < n; k += 2)
            FillBlack(row, room, clip(FCoding[k]), k + 1 < n ? clip(FCoding[k + 1]) : clip(FEnd));
    }
    FCoding.insert(FCoding.end(), Sentinels, Width());
    FReference.swap(FCoding);
    RowEnd();
}

TExpandResult TCCITTFax4Decoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                        size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    Begin(Source, std::min(SourceSize, PackedSize), Target, std::min(TargetSize, UnpackedSize));
    ResetReference();
    if (RowBytes() == 0)
        return Result();
    while (!RowsFull() && BitsRemain()) {
        if (!DecodeRow2D()) {
            // The end-of-block code, the end of the data or damage: the
            // pixels decoded so far of this row are kept, and the strip ends.
            if (!FCodingEmpty())
                FinishRow();
            break;
        }
        FinishRow();
    }
    return Result();
}

TExpandResult TCCITTFax3Decoder2D::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                          size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    Begin(Source, std::min(SourceSize, PackedSize), Target, std::min(TargetSize, UnpackedSize));
    ResetReference();
    if (RowBytes() == 0)
        return Result();
    bool synchronised = false; // the end-of-line code before the next row is read
    while (!RowsFull() && BitsRemain()) {
        if (!synchronised) {
            SkipToEndOfLine();
        }
        if (!BitsRemain())
            break;
        const bool oneDimensional = ReadBit() == 1;
        const bool complete = oneDimensional ? DecodeRow1D() : DecodeRow2D();
        synchronised = oneDimensional && FMetEndOfLine;
        // A row that holds nothing before its end (the end-of-line codes
        // that close a page) is no row.
        if (complete || !FCodingEmpty())
            FinishRow();
    }
    return Result();
}
