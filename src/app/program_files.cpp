#include "app/program_files.h"

#include "platform/program_folder.h"

namespace corvalin {

SettingsFiles settingsFilesOfThisProgram() {
    const std::filesystem::path program = programFolder();
    const std::filesystem::path firstStart = isInstalled(program) ? homeFolder() : std::filesystem::path();
    const std::filesystem::path settings = settingsFolder(program);
    return {program, settings, firstStart, historyFolder(program, settings)};
}

} // namespace corvalin
