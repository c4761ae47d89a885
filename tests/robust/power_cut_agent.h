#pragma once

// The power-cut harness's own program inside the virtual machine (the test executable started as
// `--guest LAYOUT_FILE COMMAND STEP`). It writes lines the harness reads on the serial console:
//   PC-START step, PC-FIRST step, PC-LAST step, PC-END step   around a step's run: the first and
//       the last file the run handles, as the disk shows them
//   PC-PHASE phase step                                       a phase of the run first seen: named
//       (a move recorded), copies (a copy waits in the destination), trash (an item entered the
//       Trash), folders (a child folder left the source), end (the end recorded)
//   PC-FLUSHING, PC-FLUSHED, PC-RECORD                        Corvalin's flushes and journal
//       records, as the bench's flush model logs them (bench/flush_model.c)
//   PC-OUT line, PC-EXIT status                               what Corvalin said, and its status
//   PC-PROBLEM text                                           a check that failed
//   PC-NOTE text, PC-PENDING index                            what the disks held after the cut
//   PC-WHOLE inode bytes                                      a journal's whole records after the cut
// Commands: `run first|again|undo` (the scenario's run; the same again after the cut, as a user
// would start it; the undo of every run not yet undone, newest first), `check cut|start|undone`.
namespace corvalin::test {

inline constexpr const char* kGuestFlag = "--guest";

int runGuestAgent(int argc, char* argv[]);

} // namespace corvalin::test
