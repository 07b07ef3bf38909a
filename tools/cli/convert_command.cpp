// pinwright-cli convert FILE OUT: the decoded bitmap as .png, .ppm or .pam.
#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"
#include "tools/cli/image_writers.h"

#include <iostream>
#include <string>

namespace {

class TConvertCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override
    {
        line.Summary("decode a picture into a PNG, PPM or PAM file");
        line.Positional("FILE", "a picture", FInput);
        line.Positional("OUT", "an output file", FOutput);
        line.Description(R"(Loads FILE as the workbench loads it and writes the decoded bitmap to OUT:
.png, .ppm (8-bit RGB) or .pam (RGB, or RGB_ALPHA for pictures with alpha).
OUT appears whole or not at all.)");
        line.Epilogue(R"(Exit status: 0 success, 1 the file cannot be loaded or OUT cannot be
written, 2 a usage error.)");
    }

    int Run() override
    {
        const TImageFileKind kind = ImageFileKindOf(FOutput);
        const std::unique_ptr<TGraphic> graphic = LoadPicturePixels(FInput);
        if (graphic->EndedEarly())
            std::cerr << "Warning: " << FInput << ": " << EarlyEndNotice(*graphic) << std::endl;
        TOutputFile file(FOutput);
        WriteImageFile(kind, graphic->ViewBitmap(), file);
        file.Commit();
        return 0;
    }

private:
    std::string FInput, FOutput;
};

const TCommandRegistration Registration("convert", MakeCommand<TConvertCommand>);

} // namespace
