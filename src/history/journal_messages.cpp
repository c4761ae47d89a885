#include "history/journal_messages.h"

#include "app/error_text.h"
#include "app/message_box.h"

namespace corvalin {

bool openRunJournal(MessageBox& messages, const std::filesystem::path& historyFolder, const RunStart& start,
                    std::optional<RunJournal>& journal) {
    Result<RunJournal> created = RunJournal::create(historyFolder, start);
    if (!created) {
        messages.show(describeNoJournal(created.error()), MessageButtons::Ok, MessageIcon::Warning);
        return false;
    }
    journal.emplace(std::move(created.value()));
    return true;
}

void finishRunJournal(MessageBox& messages, std::optional<RunJournal>& journal, const char* outcome,
                      const std::optional<Error>& told) {
    if (!journal)
        return;
    if (Status finished = journal->finish(outcome); !finished && finished.error() != told)
        messages.show(describeError(finished.error()), MessageButtons::Ok, MessageIcon::Warning);
    journal.reset();
}

} // namespace corvalin
