#include "tests/support/test_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pwtest {

std::string DataPath(const std::string& name)
{
    return std::string(PW_TEST_DATA) + "/" + name;
}

std::string BinPath(const std::string& name)
{
    return std::string(PW_BIN_DIR) + "/" + name;
}

std::string SamplePath(const std::string& name)
{
    return std::string(PW_TEST_DATA) + "/../../samples/" + name;
}

const char* const SampleWorldFile =
    "10.000000000000\r\n0.000\r\n0.000\r\n-10.000000000000\r\n3500000.000\r\n5405000.000\r\n";

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pinwright-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

std::vector<uint8_t> ReadBytes(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + fileName);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& fileName)
{
    const auto bytes = ReadBytes(fileName);
    return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const std::string& fileName, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(fileName, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + fileName);
}

void WriteText(const std::string& fileName, const std::string& text)
{
    WriteBytes(fileName, std::vector<uint8_t>(text.begin(), text.end()));
}

bool FileExists(const std::string& fileName)
{
    return std::filesystem::exists(fileName);
}

std::set<std::string> Listing(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

void WriteProgram(const std::string& fileName, const std::string& text)
{
    WriteText(fileName, text);
    ::chmod(fileName.c_str(), 0755);
}

namespace {
std::string Drain(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}
} // namespace

CommandResult Run(const std::vector<std::string>& argv)
{
    // Output goes to temporary files so that neither pipe can fill and block.
    char outName[] = "/tmp/pinwright-out-XXXXXX";
    char errName[] = "/tmp/pinwright-err-XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    unlink(outName);
    unlink(errName);
    CommandResult result;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        const int nullFd = open("/dev/null", 0);
        dup2(nullFd, 0);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    lseek(outFd, 0, SEEK_SET);
    lseek(errFd, 0, SEEK_SET);
    result.Out = Drain(outFd);
    result.Err = Drain(errFd);
    close(outFd);
    close(errFd);
    return result;
}

bool HaveProgram(const std::string& name)
{
    return Run({"sh", "-c", "command -v " + name}).ExitCode == 0;
}

namespace {
std::string Token(std::istream& in)
{
    std::string token;
    char c;
    while (in.get(c)) {
        if (c == '#') {
            std::string ignored;
            std::getline(in, ignored);
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!token.empty())
                break;
            continue;
        }
        token += c;
    }
    return token;
}
} // namespace

Image ReadNetpbm(const std::string& fileName)
{
    const auto bytes = ReadBytes(fileName);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    const std::string magic = Token(in);
    Image image;
    if (magic == "P7") {
        int maxval = 0;
        for (std::string key = Token(in); key != "ENDHDR"; key = Token(in)) {
            if (key.empty())
                throw std::runtime_error("bad PAM header in " + fileName);
            if (key == "WIDTH")
                image.Width = std::stoi(Token(in));
            else if (key == "HEIGHT")
                image.Height = std::stoi(Token(in));
            else if (key == "DEPTH")
                image.Channels = std::stoi(Token(in));
            else if (key == "MAXVAL")
                maxval = std::stoi(Token(in));
            else if (key == "TUPLTYPE")
                Token(in);
        }
        if (maxval != 255)
            throw std::runtime_error("PAM maxval other than 255 in " + fileName);
    } else if (magic == "P6" || magic == "P5") {
        image.Width = std::stoi(Token(in));
        image.Height = std::stoi(Token(in));
        if (std::stoi(Token(in)) != 255)
            throw std::runtime_error("maxval other than 255 in " + fileName);
        image.Channels = magic == "P6" ? 3 : 1;
    } else {
        throw std::runtime_error("not a binary netpbm file: " + fileName);
    }
    const size_t size = static_cast<size_t>(image.Width) * image.Height * image.Channels;
    image.Pixels.resize(size);
    in.read(reinterpret_cast<char*>(image.Pixels.data()), static_cast<std::streamsize>(size));
    if (static_cast<size_t>(in.gcount()) != size)
        throw std::runtime_error("short netpbm data in " + fileName);
    return image;
}

void WriteNetpbm(const std::string& fileName, const Image& image)
{
    std::ostringstream header;
    header << (image.Channels == 1 ? "P5" : "P6") << "\n" << image.Width << " " << image.Height << "\n255\n";
    const std::string text = header.str();
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), image.Pixels.begin(), image.Pixels.end());
    WriteBytes(fileName, bytes);
}

Image ToRGB(const Image& image)
{
    if (image.Channels == 3)
        return image;
    Image rgb{image.Width, image.Height, 3, {}};
    rgb.Pixels.reserve(static_cast<size_t>(image.Width) * image.Height * 3);
    for (size_t i = 0; i < static_cast<size_t>(image.Width) * image.Height; ++i) {
        const uint8_t* p = &image.Pixels[i * image.Channels];
        if (image.Channels <= 2)
            rgb.Pixels.insert(rgb.Pixels.end(), {p[0], p[0], p[0]});
        else
            rgb.Pixels.insert(rgb.Pixels.end(), {p[0], p[1], p[2]});
    }
    return rgb;
}

double PSNR(const Image& a, const Image& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Channels != b.Channels || a.Pixels.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.Pixels.size(); ++i) {
        const double d = double(a.Pixels[i]) - double(b.Pixels[i]);
        sum += d * d;
    }
    if (sum == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = sum / double(a.Pixels.size());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

std::string FirstDifference(const Image& a, const Image& b)
{
    std::ostringstream out;
    if (a.Width != b.Width || a.Height != b.Height || a.Channels != b.Channels) {
        out << "size " << a.Width << "x" << a.Height << "x" << a.Channels << " vs " << b.Width << "x" << b.Height
            << "x" << b.Channels;
        return out.str();
    }
    for (size_t i = 0; i < a.Pixels.size(); ++i)
        if (a.Pixels[i] != b.Pixels[i]) {
            const size_t pixel = i / a.Channels;
            out << "pixel (" << pixel % a.Width << ", " << pixel / a.Width << ") channel " << i % a.Channels
                << ": " << int(a.Pixels[i]) << " vs " << int(b.Pixels[i]);
            return out.str();
        }
    return {};
}

std::vector<uint8_t> RandomBytes::operator()(size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(FEngine());
    return bytes;
}

std::vector<uint8_t> Bits(const std::string& text)
{
    std::vector<uint8_t> out;
    int n = 0;
    for (char c : text) {
        if (c != '0' && c != '1')
            continue;
        if (n % 8 == 0)
            out.push_back(0);
        if (c == '1')
            out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

} // namespace pwtest
