// The sample board's file areas: sample/files/ is copied into the board's
// "files" directory (the areas' files, their lists and a listing kept
// apart from its area), and every defined area gets its directory, so an
// area without sample files (the uploads) exists from the start.
#include <filesystem>
#include <iostream>

#include "sample/tools/builders.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

bool StepFileAreas(BoardContext& b) {
    if (!CopyTree(b.src / "files", b.out / "files", b)) return false;
    for (const FileAreaDef& a : b.config.FileAreas) {
        if (a.AreaDefined == 0 || a.AreaDir.empty()) continue;
        std::error_code ec;
        fs::create_directories(a.AreaDir, ec);
        if (ec) {
            std::cerr << "kvsample: cannot make " << a.AreaDir << ": " << ec.message() << "\n";
            return false;
        }
    }
    return true;
}

BoardStepRegistrar file_areas_step(35, "file areas", StepFileAreas);

}  // namespace
}  // namespace kv::sample
