// pinwright-cli check FILE...: decodes each file in full, writes nothing and
// prints one line per file, so that a folder of scans can be vetted before
// georeferencing. Exit status 1 when any file could not be read.
#include "imaging/loaded_picture.h"
#include "platform/exceptions.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

class TCheckCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override
    {
        line.Summary("decode pictures in full and say of each: ok, ended early at row N, or its error (status 1 "
                     "when any failed)");
        line.Positionals("FILE", "a picture", FFiles);
        line.Description(R"text(Loads and decodes each FILE in full as the workbench does, writes nothing,
and prints one line per file: "FILE: ok (W x H)", "FILE: ended early at
row N (W x H)" for a file whose data end before its image does (the rows
from N on are empty), or "FILE: MESSAGE" for a file that cannot be read or
holds no image.)text");
        line.Epilogue(R"(Exit status: 0 every file could be read, 1 one file or more could not,
2 a usage error.)");
    }

    int Run() override
    {
        int status = 0;
        for (const std::string& file : FFiles) {
            std::string line;
            try {
                const std::unique_ptr<TGraphic> graphic = LoadPicturePixels(file);
                const std::string size = std::to_string(graphic->Width()) + " x " + std::to_string(graphic->Height());
                line = graphic->EndedEarly()
                           ? "ended early at row " + std::to_string(graphic->EarlyEndRow()) + " (" + size + ")"
                           : "ok (" + size + ")";
            } catch (const std::exception& e) {
                line = WithFullStop(e.what());
                status = 1;
            }
            std::cout << file << ": " << line << std::endl;
        }
        return status;
    }

private:
    std::vector<std::string> FFiles;
};

const TCommandRegistration Registration("check", MakeCommand<TCheckCommand>);

} // namespace
