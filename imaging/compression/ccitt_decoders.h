#pragma once
// Decoders for bilevel images in the one-dimensional modified Huffman code
// of ITU-T T.4: Group 3 rows introduced by end-of-line codes
// (TCCITTFax3Decoder) and rows without end-of-line codes that start on byte
// boundaries (TCCITTMHDecoder).
//
// Output: one bit per pixel, most significant bit first, set = black; every
// row starts on a byte boundary, (Width + 7) / 8 bytes per row.
//
// Expand (contract in decoder.h) clears min(UnpackedSize, TargetSize) bytes
// of the target and decodes rows into them; it reads at most
// min(PackedSize, SourceSize) source bytes and advances neither pointer.
// Every code the source holds is decoded, also codes that lie wholly in the
// last bits of the last byte. A run longer than the rest of its row is cut
// at the row end; decoding stops once the rows fill the target. The source
// buffer is never written (bit-reversed data are reversed while read).
//
// Two-dimensional coding (T.4 with option bit 0, and T.6 Group 4) is read by
// TCCITTFax3Decoder2D and TCCITTFax4Decoder below. Each row is held as the
// list of its changing elements (the positions where the colour changes,
// the first one from white to black); the previous row's list is the
// reference of the next. Every strip starts with an all-white reference.
#include "imaging/compression/decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

class TCCITTDecoder : public TDecoder {
public:
    // Options: the T.4 options word, kept but not consulted. SwapBits: the
    // source bytes hold their first bit in the least significant position
    // (TIFF fill order 2). WordAligned: every row of the MH decoder starts
    // on a 16-bit boundary of the source (counted from the start of the
    // strip). Width: pixels per row.
    TCCITTDecoder(int Options, bool SwapBits, bool WordAligned, uint32_t Width);

    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

    uint32_t Options() const { return FOptions; }

protected:
    struct TTreeNode {
        int32_t Child[2] = {0, 0}; // index into the same tree; 0 = none
        int32_t Value = 0;
    };
    // Values of the special codes.
    static constexpr int32_t EndOfLine = -1;
    static constexpr int32_t InvalidCode = -2;

    // Per-call set-up: the source bytes, the target bytes (cleared here).
    void Begin(const uint8_t* Source, size_t SourceCount, uint8_t* Target, size_t TargetCount);
    bool BitsRemain() const { return FBitPos < FBitEnd; }
    // The next bit, consumed; 0 when the data have ended.
    int ReadBit()
    {
        if (FBitPos >= FBitEnd)
            return 0;
        const int bit = static_cast<int>(PeekBits(1));
        ++FBitPos;
        return bit;
    }
    // Reads up to and including the next end-of-line code (eleven zeros,
    // any fill, a one), or to the end of the data.
    void SkipToEndOfLine();
    // A run of the current colour: the sum of its make-up codes and its
    // terminating code, or EndOfLine / InvalidCode.
    int64_t DecodeRun();
    // Writes min(Count, rest of row) pixels of the current colour; true when
    // the row is complete.
    bool WriteRun(int64_t Count);
    // Moves to the start of the next row, colour white.
    void RowEnd();
    size_t RowBytes() const { return FRowBytes; }
    bool RowsFull() const { return FRowStart >= FTargetCount; }
    bool RowEmpty() const { return FRestWidth == FWidth; }
    // Skips the rest of a partly read byte.
    void AlignToByte() { FBitPos = (FBitPos + 7) & ~size_t(7); }
    void SkipByte() { FBitPos = std::min(FBitPos + 8, FBitEnd); }
    // Offset from the strip start of the first byte with no bit read.
    size_t UnreadOffset() const { return (FBitPos + 7) / 8; }
    TExpandResult Result() const;
    // The next Count (1 to 32) bits, first bit highest; bits past the end
    // of the data read as 0. SkipBits consumes them (never past the end).
    uint32_t PeekBits(uint32_t Count) const { return static_cast<uint32_t>(WindowAt(FBitPos) >> (64 - Count)); }
    // At least 57 bits from bit Pos on, first bit highest, past the end of
    // the data 0. Eight bytes are loaded at once while they last: the
    // two-dimensional decoders look at every mode code so.
    uint64_t WindowAt(size_t Pos) const
    {
        const size_t at = Pos >> 3;
        if (FSourceCount >= 8 && at <= FSourceCount - 8) {
            uint64_t word;
            std::memcpy(&word, FSource + at, 8);
            return InReadingOrder(word) << (Pos & 7);
        }
        return LastWindowAt(Pos);
    }
    void SkipBits(uint32_t Count) { FBitPos = std::min(FBitPos + Count, FBitEnd); }
    // Bits read so far, and bits in the source.
    size_t BitPos() const { return FBitPos; }
    size_t BitEnd() const { return FBitEnd; }
    void SetBitPos(size_t Pos) { FBitPos = std::min(Pos, FBitEnd); }
    uint32_t Width() const { return FWidth; }
    // The current row of the target (nullptr once the rows fill it) and the
    // bytes of it that lie inside the target.
    uint8_t* RowTarget() const { return FRowStart < FTargetCount ? FTarget + FRowStart : nullptr; }
    size_t RowRoom() const { return FRowStart < FTargetCount ? FTargetCount - FRowStart : 0; }

    bool FIsWhite = true;
    bool FWordAligned;

private:
    // The code tree of one colour and, for every 13 bits that may follow
    // the start of a code, what the walk from the root through them meets
    // first: a node without a child for the next bit (a code's end, or bits
    // that are no code). Entries hold that node's value (high bits) and the
    // bits before it (low 4 bits); 0 when the 13 bits hold no such node.
    // Built once, shared by all decoders.
    struct TCodeTable {
        std::vector<TTreeNode> Tree;
        std::vector<int32_t> Codes; // [the 13 bits, first bit highest]
    };
    static const TCodeTable& CodeTable(bool White);
    static void AddCode(std::vector<TTreeNode>& Tree, const char* Code, int32_t Value);
    uint64_t LastWindowAt(size_t Pos) const;
    // Eight source bytes as loaded from memory, made into a word whose
    // highest bit is the first one read.
    uint64_t InReadingOrder(uint64_t Word) const
    {
        if constexpr (std::endian::native == std::endian::little)
            Word = __builtin_bswap64(Word);
        if (FSwapBits) {
            // Fill order 2: the bits of each byte in reverse order.
            Word = (Word >> 1 & 0x5555555555555555u) | (Word & 0x5555555555555555u) << 1;
            Word = (Word >> 2 & 0x3333333333333333u) | (Word & 0x3333333333333333u) << 2;
            Word = (Word >> 4 & 0x0F0F0F0F0F0F0F0Fu) | (Word & 0x0F0F0F0F0F0F0F0Fu) << 4;
        }
        return Word;
    }

    uint32_t FOptions;
    bool FSwapBits;
    uint32_t FWidth;
    size_t FRowBytes;
    const TCodeTable* FWhiteTable;
    const TCodeTable* FBlackTable;

    const uint8_t* FSource = nullptr;
    size_t FSourceCount = 0;
    size_t FBitPos = 0; // bits read
    size_t FBitEnd = 0; // bits in the source
    uint8_t* FTarget = nullptr;
    size_t FTargetCount = 0;
    size_t FRowStart = 0;   // offset of the current row in the target
    uint32_t FRestWidth = 0;
};

class TCCITTFax3Decoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
};

class TCCITTMHDecoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
};

// The machinery of two-dimensional coding: the coding modes (pass,
// horizontal, vertical) against a reference row, and one-dimensional rows
// that also record their changing elements. Options bit 1 (value 2) says
// that uncompressed mode may occur; meeting it then raises "CCITT
// uncompressed mode is not supported." Without that bit its code is bad data.
// Bad data, an end-of-line code inside a row or the end of the data end the
// row where they stand: the pixels decoded so far are kept.
class TCCITT2DDecoder : public TCCITTDecoder {
public:
    TCCITT2DDecoder(int Options, bool SwapBits, uint32_t Width);

protected:
    // Starts a strip: the reference row is all white.
    void ResetReference();
    // Decodes one row into the changing elements; true when the row is
    // complete. DecodeRow1D reads a one-dimensionally coded row.
    bool DecodeRow2D();
    bool DecodeRow1D();
    // Writes the decoded changing elements as the current row, makes them
    // the reference and moves to the next row.
    void FinishRow();
    bool FCodingEmpty() const { return FCount == 0 && FEnd <= 0; }
    // True when the last DecodeRow1D ended at an end-of-line code it read.
    bool FMetEndOfLine = false;

private:
    bool AddChange(int64_t Position)
    {
        // A row has at most Width + 1 changing elements; more is bad data.
        if (FCount > size_t(Width()))
            return false;
        if (FCount == FCoding.size())
            GrowCoding();
        FCoding[FCount++] = static_cast<uint32_t>(Position);
        FEnd = Position;
        return true;
    }
    // Room for more changing elements (the row's are FCoding[0, FCount)).
    void GrowCoding() { FCoding.resize(std::max<size_t>(64, 2 * FCoding.size())); }
    std::vector<uint32_t> FReference; // changing elements, then sentinels at Width
    std::vector<uint32_t> FCoding;
    size_t FCount = 0;
    std::vector<uint64_t> FRowWords; // the row being drawn, one spare word; all 0 between rows
    int64_t FEnd = 0; // how far the row is decoded
};

// Group 4 (ITU-T T.6): every row coded two-dimensionally, no end-of-line
// codes; the end-of-block code or the end of the data ends the strip.
class TCCITTFax4Decoder : public TCCITT2DDecoder {
public:
    using TCCITT2DDecoder::TCCITT2DDecoder;
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
};

// Group 3 coded two-dimensionally (T.4, option bit 0): every row begins with
// an end-of-line code (after optional fill bits) and one bit that tells
// whether the row is coded one-dimensionally (1) or two-dimensionally (0).
// A damaged row ends at the damage and decoding goes on at the next
// end-of-line code.
class TCCITTFax3Decoder2D : public TCCITT2DDecoder {
public:
    using TCCITT2DDecoder::TCCITT2DDecoder;
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
};
