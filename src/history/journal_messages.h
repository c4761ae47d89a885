#pragma once

#include "history/run_journal.h"

#include <optional>

namespace corvalin {

class MessageBox;

// The journal of a run: opened before the run touches anything, or the run is refused with a
// message that names the folder and the reason. True when the run may start.
bool openRunJournal(MessageBox& messages, const std::filesystem::path& historyFolder, const RunStart& start,
                    std::optional<RunJournal>& journal);

// Records the run's outcome and closes the journal; a failure is told, unless it is `told`: the run
// stopped on that same failure of its journal and said so already.
void finishRunJournal(MessageBox& messages, std::optional<RunJournal>& journal, const char* outcome,
                      const std::optional<Error>& told = std::nullopt);

} // namespace corvalin
