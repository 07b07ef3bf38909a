#include "tests/app/app_fixture.h"

#include <QSettings>
#include <QTemporaryDir>

#include "app/application.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "platform/streams.h"
#include "tests/support/test_support.h"

#include <cstring>
#include <memory>
#include <sstream>

namespace {

// The application object lives from before the first test to after the last,
// and goes before the program's static objects do.
class TApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { EnsureApplication(); }
    void TearDown() override { Application.reset(); }
    static std::unique_ptr<TApplication> Application;
};

std::unique_ptr<TApplication> TApplicationEnvironment::Application;

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

} // namespace

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    if (!TApplicationEnvironment::Application) {
        // Settings the workbench remembers go to a folder of this test
        // program's own, neither the user's nor another test's.
        static QTemporaryDir settings;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        TApplicationEnvironment::Application = std::make_unique<TApplication>(argc, argv);
    }
}

TDialogScript::TDialogScript()
{
    TFileDialog::SetRunner([this](TFileDialog& dialog) {
        ++Executed;
        if (FReplies.empty()) {
            ADD_FAILURE() << "unexpected file dialog";
            return false;
        }
        const TReply reply = FReplies.front();
        FReplies.pop_front();
        if (!reply.Confirm)
            return false;
        dialog.FileName = reply.FileName;
        if (reply.FilterIndex > 0)
            dialog.FilterIndex = reply.FilterIndex;
        return true;
    });
}

TDialogScript::~TDialogScript()
{
    TFileDialog::SetRunner(nullptr);
}

void TDialogScript::Confirm(const QString& fileName, int filterIndex)
{
    FReplies.push_back({true, fileName, filterIndex});
}

void TDialogScript::Cancel()
{
    FReplies.push_back({false, QString(), 0});
}

void AppTest::SetUp()
{
    EnsureApplication();
    RegisterTestPictures();
    FPrevious = SetMessageService(&Messages);
}

void AppTest::TearDown()
{
    SetMessageService(FPrevious);
}

namespace {

struct TLine {
    int Width = 0;
    int Height = 0;
    bool Fail = false;
};

TLine ReadLine(TStream& stream)
{
    std::string text(static_cast<size_t>(stream.Remaining()), '\0');
    stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    std::istringstream in(text);
    TLine line;
    std::string word;
    in >> line.Width >> line.Height >> word;
    line.Fail = word == "fail";
    return line;
}

} // namespace

PW_DEFINE_GRAPHIC_CLASS(TTestPicture, TBitmap)
PW_DEFINE_GRAPHIC_CLASS(TLazyPicture, TGraphic)

std::function<void(TProgressStage)> TTestPicture::OnReport;
int TLazyPicture::Decodes = 0;

void TTestPicture::LoadFromStream(TStream& stream)
{
    const TLine line = ReadLine(stream);
    auto report = [this](TProgressStage stage, uint8_t percent) {
        Progress(this, stage, percent, false, TRect{}, "Loading data...");
        if (OnReport)
            OnReport(stage);
    };
    report(psStarting, 0);
    SetPixelFormat(bf24Bit);
    SetSize(line.Width, line.Height);
    report(psRunning, 50);
    if (line.Fail)
        throw EInvalidGraphic("Broken test picture");
    for (int y = 0; y < line.Height; ++y) {
        uint8_t* row = ScanLine(y);
        for (int x = 0; x < line.Width; ++x) {
            row[3 * x] = 0x30;      // blue
            row[3 * x + 1] = 0x20;  // green
            row[3 * x + 2] = 0x10;  // red
        }
    }
    report(psEnding, 100);
}

void TLazyPicture::LoadFromStream(TStream& stream)
{
    const TLine line = ReadLine(stream);
    FWidth = line.Width;
    FHeight = line.Height;
    FFail = line.Fail;
}

TBitmap& TLazyPicture::ViewBitmap()
{
    if (!FDecoded) {
        ++Decodes;
        if (FFail)
            throw EJPEG("JPEG error #41");
        FBitmap.SetPixelFormat(bf24Bit);
        FBitmap.SetSize(FWidth, FHeight);
        for (int y = 0; y < FHeight; ++y)
            std::memset(FBitmap.ScanLine(y), 0xC0, static_cast<size_t>(FBitmap.RowStride()));
        FDecoded = true;
    }
    return FBitmap;
}

void RegisterTestPictures()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    RegisterPictureFormat("pwtest", "Test picture", TTestPicture::ClassType());
    RegisterPictureFormat("pwlazy", "Lazy test picture", TLazyPicture::ClassType());
}

void WriteTestPicture(const std::string& fileName, int width, int height, bool fail)
{
    pwtest::WriteText(fileName, std::to_string(width) + " " + std::to_string(height) + (fail ? " fail" : ""));
}
