#pragma once

#include "app/startup.h"

namespace corvalin {

// The settings files of this running program, for the window and the commands alike: beside a
// portable copy, else in the user's configuration folder (created when missing); an installed
// program's first start shows the home folder. The run journals go beside the settings files of a
// portable copy, else to the user's state folder.
SettingsFiles settingsFilesOfThisProgram();

} // namespace corvalin
