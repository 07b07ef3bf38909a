#include "georef/geotiff_strip.h"

#include "platform/exceptions.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <vector>

namespace {

bool IsGeoTiffTag(unsigned tag)
{
    return tag == 33550 || tag == 33922 || tag == 34264 || tag == 34735 || tag == 34736 || tag == 34737;
}

struct TFileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

class TTiffEditor {
public:
    explicit TTiffEditor(const std::string& fileName) : FName(fileName), FFile(std::fopen(fileName.c_str(), "r+b"))
    {
        if (!FFile)
            RaiseIOError(errno);
    }

    int Strip()
    {
        const auto header = Read(0, 8);
        if (header[0] == 'I' && header[1] == 'I')
            FLittle = true;
        else if (header[0] == 'M' && header[1] == 'M')
            FLittle = false;
        else
            Damaged();
        const uint64_t version = Value(header.data() + 2, 2);
        uint64_t offset = 0;
        if (version == 42) {
            offset = Value(header.data() + 4, 4);
        } else if (version == 43) {
            FBig = true;
            offset = Value(Read(8, 8).data(), 8);
        } else {
            Damaged();
        }
        int removed = 0;
        std::set<uint64_t> seen;
        while (offset != 0) {
            if (!seen.insert(offset).second)
                Damaged();
            removed += StripDirectory(offset);
        }
        if (std::fflush(FFile.get()) != 0)
            RaiseIOError(errno);
        return removed;
    }

private:
    // Strips one directory and moves offset on to the next.
    int StripDirectory(uint64_t& offset)
    {
        const size_t countSize = FBig ? 8 : 2;
        const size_t entrySize = FBig ? 20 : 12;
        const size_t nextSize = FBig ? 8 : 4;
        const uint64_t count = Value(Read(offset, countSize).data(), countSize);
        if (count > 65535 * 4)
            Damaged();
        std::vector<uint8_t> entries = Read(offset + countSize, count * entrySize + nextSize);
        std::vector<uint8_t> kept;
        uint64_t keptCount = 0;
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* entry = entries.data() + i * entrySize;
            if (IsGeoTiffTag(static_cast<unsigned>(Value(entry, 2))))
                continue;
            kept.insert(kept.end(), entry, entry + entrySize);
            ++keptCount;
        }
        const uint8_t* next = entries.data() + count * entrySize;
        const uint64_t nextOffset = Value(next, nextSize);
        const int removed = static_cast<int>(count - keptCount);
        if (removed > 0) {
            std::vector<uint8_t> block = Encode(keptCount, countSize);
            block.insert(block.end(), kept.begin(), kept.end());
            block.insert(block.end(), next, next + nextSize);
            block.resize(countSize + entries.size(), 0); // clears the freed tail
            Write(offset, block);
        }
        offset = nextOffset;
        return removed;
    }

    std::vector<uint8_t> Read(uint64_t at, uint64_t size)
    {
        if (size > (uint64_t{1} << 24) || std::fseek(FFile.get(), static_cast<long>(at), SEEK_SET) != 0)
            Damaged();
        std::vector<uint8_t> bytes(size);
        if (std::fread(bytes.data(), 1, bytes.size(), FFile.get()) != bytes.size())
            Damaged();
        return bytes;
    }

    void Write(uint64_t at, const std::vector<uint8_t>& bytes)
    {
        if (std::fseek(FFile.get(), static_cast<long>(at), SEEK_SET) != 0 ||
            std::fwrite(bytes.data(), 1, bytes.size(), FFile.get()) != bytes.size())
            RaiseIOError(errno);
    }

    uint64_t Value(const uint8_t* bytes, size_t size) const
    {
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= uint64_t{bytes[FLittle ? i : size - 1 - i]} << (8 * i);
        return value;
    }

    std::vector<uint8_t> Encode(uint64_t value, size_t size) const
    {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[FLittle ? i : size - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    }

    [[noreturn]] void Damaged() const
    {
        throw EInvalidGraphic("Cannot remove the georeferencing of '" + FName + "': its TIFF directories are damaged");
    }

    std::string FName;
    std::unique_ptr<std::FILE, TFileClose> FFile;
    bool FLittle = true;
    bool FBig = false;
};

} // namespace

int StripGeoTiffTags(const std::string& fileName)
{
    return TTiffEditor(fileName).Strip();
}
