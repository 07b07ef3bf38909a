// pinwright-cli check FILE...: decodes each file in full, writes nothing and
// prints one line per file, so that a folder of scans can be vetted before
// georeferencing. Exit status 1 when any file could not be read.
#include "imaging/loaded_picture.h"
#include "platform/exceptions.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"

#include <iostream>
#include <string>

int RunCheckCommand(int argc, char** argv)
{
    if (argc < 2)
        RaiseUsage("pinwright-cli check FILE...");
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::string line;
        try {
            const std::unique_ptr<TGraphic> graphic = LoadPicturePixels(argv[i]);
            const std::string size = std::to_string(graphic->Width()) + " x " + std::to_string(graphic->Height());
            line = graphic->EndedEarly()
                       ? "ended early at row " + std::to_string(graphic->EarlyEndRow()) + " (" + size + ")"
                       : "ok (" + size + ")";
        } catch (const std::exception& e) {
            line = WithFullStop(e.what());
            status = 1;
        }
        std::cout << argv[i] << ": " << line << std::endl;
    }
    return status;
}
