#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"
#include "tools/cli/image_writers.h"

#include <iostream>
#include <string>

int RunConvertCommand(int argc, char** argv)
{
    if (argc != 3)
        RaiseUsage("pinwright-cli convert FILE OUT (OUT ending in .png, .ppm or .pam)");
    const std::string input = argv[1];
    const std::string output = argv[2];
    const TImageFileKind kind = ImageFileKindOf(output);
    const std::unique_ptr<TGraphic> graphic = LoadPicturePixels(input);
    if (graphic->EndedEarly())
        std::cerr << "Warning: " << input << ": " << EarlyEndNotice(*graphic) << std::endl;
    TOutputFile file(output);
    WriteImageFile(kind, graphic->ViewBitmap(), file);
    file.Commit();
    return 0;
}
