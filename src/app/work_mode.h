#pragma once

#include "app/option_value.h"

#include <optional>
#include <string>

namespace corvalin {

// How the main window is laid out for a work mode: the move layout, or the strip layout in which
// the source pane is greyed out and the destination pane is the folder to strip.
struct WorkLayout {
    bool strip = false;
    bool command1Visible = true;
    bool command2Visible = false;
    std::optional<bool> command3Visible; // empty: left as it is (the caller decides)
    std::optional<bool> command4Visible;
    bool sourcePaneEnabled = true; // Label1, Drive1, Dir1, File1, Label5, Label6, Label8, Label10
    std::string label2Caption;
    std::string label9Caption;
    bool indicatorRed = true; // Label14: light red in the move layout, light green in the strip layout
    bool file2Visible = true;
    bool file3Visible = false;
};

// Either strip box (or both) gives the strip layout; the stored strip-into-subfolder mode decides
// which destination list is shown.
WorkLayout workLayoutFor(bool check3, bool check4, const OptionValue& stripIntoSubfolder);

} // namespace corvalin
