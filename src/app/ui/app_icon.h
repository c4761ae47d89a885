#pragma once

#include <QIcon>
#include <QImage>

namespace corvalin {

// The program's icon, drawn in code so that every size is sharp and no picture file is needed at
// run time: a folder that gathers pictures, with a serial-number badge.
QImage drawProgramIcon(int size);
QIcon programIcon();

} // namespace corvalin
