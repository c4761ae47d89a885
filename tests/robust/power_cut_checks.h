#pragma once

#include <string>

// What the agent inside the virtual machine checks on the disks (power_cut_agent.h says how it is
// started and what it writes).
namespace corvalin::test {

struct Layout;

// One line for the harness on the serial console: "PC-<kind> <text>".
void say(const std::string& kind, const std::string& text);

// `cut`: what the disks hold right after a cut, before anything starts (notes, and the pictures
// still pending, Layout::pending), and whether the run's start was on the disk before its files.
// `start`, after the next start has run: every picture exactly once with its bytes and nothing
// hidden left, no serial number twice, the counter ahead of every number given, the saved
// folders kept, a readable info file for every item the journals put in the Trash. `undone`,
// after every run was undone: all that, every item the journals record back where it came from,
// and every pending picture too.
int checkStep(const Layout& layout, const std::string& step);

} // namespace corvalin::test
