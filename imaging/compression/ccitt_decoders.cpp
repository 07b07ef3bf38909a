#include "imaging/compression/ccitt_decoders.h"

#include "imaging/compression/ccitt_codes.h"
#include "imaging/strings/messages.h"

#include <algorithm>
#include <array>
#include <bit>
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
    FSource = Source;
    FSourceCount = SourceCount;
    FBitPos = 0;
    FBitEnd = SourceCount * 8;
    FTarget = Target;
    FTargetCount = TargetCount;
    FRowStart = 0;
    FRestWidth = FWidth;
    FIsWhite = true;
    if (TargetCount > 0)
        std::memset(Target, 0, TargetCount);
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
        if (node == 0 && FBitEnd - FBitPos >= CodeWindow) {
            // At the start of a code, with the next 13 bits at hand: the
            // table gives the code and its length at once.
            const int32_t code = table.Codes[PeekBits(CodeWindow)];
            if (code != 0) {
                FBitPos += uint32_t(code) & 15u;
                const int32_t value = code >> 4;
                if (value < 0)
                    return value;
                sum += value;
                if (value < 64)
                    return sum;
                continue;
            }
        }
        if (FBitPos >= FBitEnd) {
            // The data end right after a code: that code still counts.
            const int32_t value = tree[node].Value;
            return value < 0 ? value : sum + value;
        }
        const uint32_t bit = PeekBits(1);
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
        ++FBitPos;
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
    return {(FBitPos + 7) / 8, std::min(rows, FTargetCount)};
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
            AlignToByte();
            if (FWordAligned && UnreadOffset() % 2 != 0)
                SkipByte();
            continue;
        }
        FIsWhite = !FIsWhite;
    }
    return Result();
}

uint64_t TCCITTDecoder::LastWindowAt(size_t Pos) const
{
    uint64_t word = 0;
    const size_t at = Pos >> 3;
    for (size_t i = 0; i < 8; ++i) {
        const uint8_t byte = at + i < FSourceCount ? FSource[at + i] : 0;
        word = word << 8 | (FSwapBits ? ReversedBytes[byte] : byte);
    }
    return word << (Pos & 7);
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
    const int64_t width = Width();
    const uint32_t* ref = FReference.data();
    int64_t a0 = -1; // before the first pixel
    uint32_t colour = 0; // 0 white, 1 black: the colour of a0
    size_t b = 0;        // index of b1 in the reference
    // The row's state is kept in locals and the next bits in a register
    // while the modes are read; the members are brought up to date before
    // a run is decoded and when the row ends.
    uint32_t* coding = FCoding.data();
    size_t count = 0;
    int64_t end = 0;
    size_t pos = BitPos();
    uint64_t window = 0; // the bits from pos on, first bit highest
    uint32_t held = 0;   // how many of them are loaded
    const auto store = [&] {
        SetBitPos(pos);
        FCount = count;
        FEnd = end;
    };
    const auto add = [&](int64_t position) {
        // A row has at most Width + 1 changing elements; more is bad data.
        if (count > size_t(width))
            return false;
        if (count == FCoding.size()) {
            GrowCoding();
            coding = FCoding.data();
        }
        coding[count++] = static_cast<uint32_t>(position);
        end = position;
        return true;
    };
    while (a0 < width) {
        if (pos >= BitEnd()) {
            store();
            return false;
        }
        if (held < 7) {
            window = WindowAt(pos);
            held = 64 - (pos & 7);
        }
        // b1: the first changing element right of a0 whose colour is the
        // opposite of a0's (even entries turn to black); b2 the one after.
        if (b > 0)
            --b;
        if ((b & 1) != colour)
            ++b;
        while (ref[b] <= a0)
            b += 2;
        const int64_t b1 = ref[b];
        // The vertical modes (V0, by far the commonest code, and its
        // neighbours) take one path, without a branch on which of them.
        const TModeCode& mode = ModeCodes[window >> 57];
        const int64_t start = std::max<int64_t>(a0, 0);
        if (mode.Mode == mdVertical) {
            window <<= mode.Length;
            held -= mode.Length;
            pos += mode.Length;
            const int64_t a1 = b1 + mode.Offset;
            if (a1 < start || a1 > width || !add(a1)) {
                store();
                return false;
            }
            a0 = a1;
            colour ^= 1;
            continue;
        }
        const int64_t b2 = ref[b + 1];
        switch (mode.Mode) {
        case mdPass:
            window <<= mode.Length;
            held -= mode.Length;
            pos += mode.Length;
            a0 = b2;
            end = std::min(b2, width);
            break;
        case mdHorizontal: {
            pos += mode.Length;
            store();
            int64_t a1 = start;
            for (int k = 0; k < 2; ++k) {
                FIsWhite = (colour ^ uint32_t(k)) == 0;
                const int64_t run = DecodeRun();
                pos = BitPos();
                if (run < 0) {
                    store();
                    return false;
                }
                a1 = std::min(a1 + run, width);
                if (!add(a1)) {
                    store();
                    return false;
                }
            }
            held = 0;
            a0 = a1;
            break;
        }
        case mdExtension:
            store();
            if ((Options() & 2) && (PeekBits(10) & 7) == UncompressedExtension)
                CompressionError(msg::CCITTUncompressedMode);
            return false;
        default:
            store();
            return false; // an end-of-line code or bits that are no code
        }
    }
    store();
    return true;
}

bool TCCITT2DDecoder::DecodeRow1D()
{
    FCount = 0;
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
        // The row is drawn in 64-bit words, first pixel highest, and then
        // stored as bytes: a run that spans at most two words is set
        // without a branch on where it lies.
        const size_t words = (size_t(width) + 63) / 64;
        if (FRowWords.size() < words + 1)
            FRowWords.assign(words + 1, 0);
        uint64_t* w = FRowWords.data();
        const uint32_t* coding = FCoding.data();
        const size_t n = FCount;
        const int64_t end = FEnd;
        // Black from each even changing element to the next; an odd last
        // one is black to where the row was decoded.
        for (size_t k = 0; k < n; k += 2) {
            const size_t first = clip(coding[k]);
            const size_t last = k + 1 < n ? clip(coding[k + 1]) : clip(end);
            if (last <= first)
                continue;
            const size_t w0 = first >> 6, w1 = (last - 1) >> 6;
            const uint64_t head = ~uint64_t(0) >> (first & 63);
            const uint64_t tail = ~uint64_t(0) << (63 - ((last - 1) & 63));
            w[w0] |= head & (w1 == w0 ? tail : ~uint64_t(0));
            if (w1 <= w0 + 1) {
                w[w0 + 1] |= w1 > w0 ? tail : 0;
            } else {
                std::fill(w + w0 + 1, w + w1, ~uint64_t(0));
                w[w1] |= tail;
            }
        }
        const auto bytesOf = [](uint64_t word) {
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap64(word);
            return word;
        };
        const size_t room = std::min(RowRoom(), RowBytes());
        const size_t whole = room / 8;
        for (size_t i = 0; i < whole; ++i) {
            const uint64_t bytes = bytesOf(w[i]);
            std::memcpy(row + 8 * i, &bytes, 8);
        }
        if (room % 8 != 0) {
            const uint64_t bytes = bytesOf(w[whole]);
            std::memcpy(row + 8 * whole, &bytes, room % 8);
        }
        std::fill_n(w, words + 1, 0);
    }
    if (FCoding.size() < FCount + Sentinels)
        FCoding.resize(FCount + Sentinels);
    std::fill_n(FCoding.begin() + ptrdiff_t(FCount), Sentinels, Width());
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
