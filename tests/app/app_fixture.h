#pragma once
// What the window tests share: one application object, a message service
// that records instead of showing, a scripted file dialog, and picture
// classes made for the tests.
#include "app/file_dialogs.h"
#include "app/message_service.h"
#include "app/zoom_window.h"
#include "platform/bitmap.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

// A screen of one grey for the magnifier, its cursor where the test puts it.
class TGreyScreen : public TZoomScreen {
public:
    QPoint At;
    QPoint CursorPos() override { return At; }
    QSize ScreenSize() override { return {4000, 3000}; }
    QImage Grab(const QRect& rect) override
    {
        QImage grey(rect.size(), QImage::Format_RGB32);
        grey.fill(Qt::gray);
        return grey;
    }
};

// Creates the application object on first use (offscreen in ctest).
void EnsureApplication();

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

struct TRecordedBox {
    QString Kind;      // "message", "error", "warning" or "notice"
    QString Caption;
    QString Text;
    bool operator==(const TRecordedBox&) const = default;
};
inline void PrintTo(const TRecordedBox& box, std::ostream* out)
{
    *out << box.Kind.toStdString() << " \"" << box.Caption.toStdString() << "\": \"" << box.Text.toStdString() << "\"";
}

class TRecordingMessages : public TMessageService {
public:
    void Beep() override { ++Beeps; }
    void ShowMessage(const QString& text) override { Boxes.push_back({"message", "Pinwright", text}); }
    void ShowError(const QString& text) override { Boxes.push_back({"error", "Pinwright", text}); }
    void ShowWarning(const QString& caption, const QString& text) override
    {
        Boxes.push_back({"warning", caption, text});
    }
    void ShowNotice(const QString& text) override { Boxes.push_back({"notice", "Pinwright", text}); }
    int Beeps = 0;
    std::vector<TRecordedBox> Boxes;
};

// Answers each Execute with the next scripted reply; a dialog with no reply
// left fails the test and is cancelled.
class TDialogScript {
public:
    TDialogScript();
    ~TDialogScript();
    // The next Execute confirms fileName with the given filter index.
    void Confirm(const QString& fileName, int filterIndex = 0);
    void Cancel();
    int Executed = 0;

private:
    struct TReply {
        bool Confirm;
        QString FileName;
        int FilterIndex;
    };
    std::deque<TReply> FReplies;
};

// A fixture with the recorder and the dialog script in place.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TRecordingMessages Messages;
    TDialogScript Dialogs;
    TMessageService* FPrevious = nullptr;
};

// "*.pwtest" files: a line "WIDTH HEIGHT [fail]". They load as 24-bit
// bitmaps of that size filled with one colour, reporting progress; "fail"
// raises "Broken test picture" halfway.
class TTestPicture : public TBitmap {
    PW_GRAPHIC_CLASS(TTestPicture)
public:
    void LoadFromStream(TStream& stream) override;
    // Called at every progress report (the tests look at the window then).
    static std::function<void(TProgressStage stage)> OnReport;
};

// "*.pwlazy" files: the same line, but like a JPEG the picture decodes only
// when its bitmap is first asked for; "fail" makes that decode fail.
class TLazyPicture : public TGraphic {
    PW_GRAPHIC_CLASS(TLazyPicture)
public:
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    void LoadFromStream(TStream& stream) override;
    TBitmap& ViewBitmap() override;
    static int Decodes;

private:
    int FWidth = 0;
    int FHeight = 0;
    bool FFail = false;
    bool FDecoded = false;
    TBitmap FBitmap;
};

// Registers both test classes with the picture list (once).
void RegisterTestPictures();
// Writes a test picture file.
void WriteTestPicture(const std::string& fileName, int width, int height, bool fail = false);
