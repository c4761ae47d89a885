#include "power_cut_checks.h"

#include "app/settings_codec.h"
#include "history/history_texts.h"
#include "history/run_history.h"
#include "move_fixture.h"
#include "naming/serial_name.h"
#include "picture_census.h"
#include "platform/file_ops.h"
#include "platform/trash.h"
#include "platform/trash_repair.h"
#include "power_cut_layout.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

constexpr int kProblemLines = 12;

struct JournalFile {
    std::string id;
    JournalContents contents;
};

bool isThere(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

PictureSet picturesOf(const Layout& layout) {
    return PictureSet(layout.pictureRoot(), layout.pictures, layout.strips() ? 1 : layout.folders, false);
}

// Every journal as the disk holds it now, read with the core's own reader.
std::vector<JournalFile> journalsOnDisk(const Layout& layout, std::string& problems) {
    std::vector<JournalFile> journals;
    const auto runs = listRuns(layout.files().history());
    if (!runs) {
        problems += "the history folder does not read: " + runs.error().reason() + "\n";
        return journals;
    }
    for (const RunSummary& run : runs.value()) {
        if (const auto contents = readJournal(run.file))
            journals.push_back({run.id, contents.value()});
        else
            problems += "journal " + run.id + " does not read: " + contents.error().reason() + "\n";
    }
    return journals;
}

// Line ends and other control bytes as \xNN, so that a note stays one line.
std::string printable(std::string_view bytes) {
    std::string text;
    for (const char byte : bytes) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(static_cast<unsigned char>(byte)));
        text += static_cast<unsigned char>(byte) < 0x20 ? escaped : std::string(1, byte);
    }
    return text;
}

// Where a picture was before the scenario's first run.
fs::path startPlace(const Layout& layout, const PictureSet& pictures, int index) {
    if (layout.strips())
        return layout.stripFolder() /
               serialName(wrapSerialNo(layout.firstSerialNo + index), pictures.nameOf(index));
    return pictures.originOf(index);
}

int placedPictures(const Layout& layout, const PictureSet& pictures) {
    int placed = 0;
    for (int i = 0; i < pictures.size(); ++i)
        placed += isThere(startPlace(layout, pictures, i));
    return placed;
}

std::optional<int> serialOfName(std::string_view name) {
    if (name.size() < 7 || name[6] != ' ' || !std::all_of(name.begin(), name.begin() + 6, ::isdigit))
        return std::nullopt;
    return std::stoi(std::string(name.substr(0, 6)));
}

// Each picture exactly once in the strip's folder, under its numbered or its stripped name, and
// nothing hidden left.
std::string stripCensus(const Layout& layout, const PictureSet& pictures) {
    std::string problems;
    std::vector<int> found(std::size_t(pictures.size()), 0);
    for (const std::string& name : namesIn(layout.stripFolder())) {
        const int index = pictures.indexOf(contentOf(layout.stripFolder() / name));
        const std::string& plain = index < 0 ? name : pictures.nameOf(index);
        if (name == "readme.txt")
            continue;
        if (index < 0 ||
            (name != plain && name != serialName(wrapSerialNo(layout.firstSerialNo + index), plain)))
            problems += "strange, cut short or misnamed in the folder: " + name + "\n";
        else
            ++found[std::size_t(index)];
    }
    for (int i = 0; i < pictures.size(); ++i) {
        if (found[std::size_t(i)] != 1)
            problems +=
                pictures.nameOf(i) + " is there " + std::to_string(found[std::size_t(i)]) + " times\n";
    }
    return problems;
}

// The counter's number comes after every number handed out, counted on from the first number
// (a wrap past 999999 is one step like any other).
std::string checkCounter(const Layout& layout, const std::vector<JournalFile>& journals) {
    const Result<std::string> bytes = readWholeFile(layout.files().counterFile());
    std::int32_t counter = 0;
    if (!bytes || FieldReader(bytes.value()).readInt32(counter) != ReadError::None)
        return "the counter file does not read: " +
               (bytes ? "\"" + bytes.value() + "\"" : bytes.error().reason()) + "\n";
    std::vector<int> given;
    if (!layout.strips()) {
        for (const std::string& name : namesIn(layout.destination()))
            if (const auto serial = serialOfName(name))
                given.push_back(*serial);
    }
    for (const JournalFile& journal : journals)
        for (const JournalRecord& record : journal.contents.records)
            if (record.type == RecordType::Move)
                given.push_back(int(record.number));
    const auto after = [&](int number) {
        return ((number - layout.firstSerialNo) % 1000000 + 1000000) % 1000000;
    };
    const auto last =
        std::max_element(given.begin(), given.end(), [&](int a, int b) { return after(a) < after(b); });
    if (last != given.end() && after(counter) <= after(*last))
        return "the counter file holds " + std::to_string(counter) + ", not ahead of " +
               std::to_string(*last) + " already given\n";
    return {};
}

std::string checkSavedFolders(const Layout& layout) {
    const Result<std::string> bytes = readWholeFile(layout.files().settingsFile());
    if (!bytes)
        return "the settings file does not read: " + bytes.error().reason() + "\n";
    std::string source, destination;
    FieldReader reader(bytes.value());
    if (reader.readText(source) != ReadError::None || reader.readText(destination) != ReadError::None)
        return "the settings file does not read: \"" + printable(bytes.value()) + "\"\n";
    if (source != layout.source().native() || destination != layout.destination().native())
        return "the saved folders are lost: the settings file holds \"" + source + "\", \"" + destination +
               "\"\n";
    return {};
}

fs::path trashOf(const Layout& layout) {
    return layout.home() / ".local/share/Trash";
}

// Right after the cut, before any start repaired anything: every item in the Trash has a whole
// info file, since the info file reaches the disk before its item goes in.
std::string checkInfoBeforeItems(const Layout& layout) {
    std::string problems;
    for (const std::string& name : namesIn(trashOf(layout) / "files")) {
        const fs::path info = trashOf(layout) / "info" / (name + ".trashinfo");
        if (infoFileState(info) != InfoFileState::Whole)
            problems += "in the Trash right after the cut without a whole info file: " + name + " (" +
                        std::to_string(isThere(info) ? fs::file_size(info) : 0) + " bytes)\n";
    }
    return problems;
}

// After every run was undone, the Trash holds nothing that came from the tree the runs worked on.
std::string checkTrashGivenBack(const Layout& layout) {
    std::string problems;
    for (const std::string& name : namesIn(trashOf(layout) / "info")) {
        const auto info = readTrashInfo(trashOf(layout) / "info" / name);
        const fs::path root = layout.pictureRoot();
        if (info && info.value().place.original.native().starts_with(root.native() + "/"))
            problems +=
                "still in the Trash after every run was undone: " + info.value().place.original.native() +
                "\n";
    }
    return problems;
}

// The runs whose journals the cut left, as the next starts must keep listing them.
fs::path journalsAfterCutFile(const Layout& layout) {
    return layout.disk1 / "journals-after-the-cut";
}

// Each journal's whole records, by inode, for the harness to compare with what its last flush
// covered before the cut; and the runs there, to be found in the history after the next start.
void noteJournals(const Layout& layout, const std::vector<JournalFile>& journals) {
    std::string ids;
    for (const JournalFile& journal : journals)
        ids += journal.id + "\n";
    (void)writeFileAtomically(journalsAfterCutFile(layout), ids);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(layout.files().history(), error)) {
        struct stat st {};
        const Result<std::string> bytes = readWholeFile(entry.path());
        if (::stat(entry.path().c_str(), &st) == 0 && bytes)
            say("WHOLE", std::to_string(st.st_ino) + " " +
                             std::to_string(parseJournalPrefix(bytes.value()).wholeBytes));
    }
}

// What `corvalin history` prints, as a user would read it after the next start: every run the cut
// left is listed, one that did not end as interrupted.
std::string checkHistoryListsTheCutRuns(const Layout& layout, const std::vector<JournalFile>& journals) {
    const Result<std::string> ids = readWholeFile(journalsAfterCutFile(layout));
    if (!ids)
        return {};
    std::string listed;
    if (FILE* history = ::popen((std::string("'") + CORVALIN_BINARY + "' history 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, history)) > 0;)
            listed.append(buffer, got);
        ::pclose(history);
    }
    std::string problems;
    for (std::size_t start = 0, end = 0; start < ids.value().size(); start = end + 1) {
        end = ids.value().find('\n', start);
        const std::string id = ids.value().substr(start, end - start);
        const std::size_t at = listed.find(id + "  ");
        const auto journal =
            std::find_if(journals.begin(), journals.end(), [&](const JournalFile& j) { return j.id == id; });
        const bool ended =
            journal != journals.end() && summariseRun(journal->contents).state != RunState::Interrupted;
        const std::string line = at == std::string::npos ? "" : listed.substr(at, listed.find('\n', at) - at);
        if (line.empty())
            problems += "the run " + id + " that the cut left is not in the history any more\n";
        else if (!ended && !line.ends_with(stateText(RunState::Interrupted)))
            problems += "the run " + id + " that the cut left is not listed as interrupted: " + line + "\n";
    }
    return problems;
}

// An item the journals put in the Trash and still there can be put back by the file manager.
std::string checkTrashInfo(const std::vector<JournalFile>& journals) {
    std::string problems;
    for (const JournalFile& journal : journals)
        for (const JournalRecord& record : journal.contents.records) {
            if (record.type != RecordType::Trash || !isThere(record.to))
                continue;
            if (const auto info = readTrashInfo(record.info); !info)
                problems += "the Trash cannot say where " + record.from.native() +
                            " came from: " + record.info.native() + ": " + info.error().reason() + "\n";
        }
    return problems;
}

std::string checkUndone(const Layout& layout, const PictureSet& pictures,
                        const std::vector<JournalFile>& journals) {
    std::string problems;
    for (const JournalFile& journal : journals)
        for (std::size_t line = 0; line < journal.contents.records.size(); ++line) {
            const JournalRecord& record = journal.contents.records[line];
            const bool movesBack = record.type == RecordType::Move || record.type == RecordType::Rename ||
                                   record.type == RecordType::Trash;
            if (movesBack && !isThere(record.from))
                problems += "not back after the undo: " + record.from.native() + " (" + journal.id +
                            ", line " + std::to_string(line + 1) + ")\n";
        }
    for (const int index : layout.pending) {
        if (!isThere(startPlace(layout, pictures, index)))
            problems += "handled after the cut, or by a completed run, and not brought back: " +
                        pictures.nameOf(index) + "\n";
    }
    say("NOTE",
        "pictures no undo took back: " + std::to_string(pictures.size() - placedPictures(layout, pictures)));
    return problems;
}

// A run's start record is on the disk before its first file is touched, whenever the journal's
// later records are flushed. Only the first run is cut before this check; the undo scenario's
// first run was completed.
std::string checkStartRecorded(const Layout& layout, const PictureSet& pictures,
                               const std::vector<JournalFile>& journals) {
    if (layout.scenario == Scenario::Undo || !journals.empty())
        return {};
    bool touched = false;
    for (int i = 0; layout.strips() && i < pictures.size(); ++i)
        touched = touched || isThere(pictures.originOf(i)); // its name without the number
    touched = touched || (!layout.strips() && !namesIn(layout.destination()).empty());
    return touched ? "the run touched files, but no journal on the disk holds its start\n" : "";
}

// What the disks hold right after the cut, for the harness's tally.
void noteAfterCut(const Layout& layout, const PictureSet& pictures,
                  const std::vector<JournalFile>& journals) {
    const Result<std::string> counter = readWholeFile(layout.files().counterFile());
    say("NOTE", "counter file: " + (counter ? "\"" + printable(counter.value().substr(0, 12)) + "\""
                                            : counter.error().reason()));
    const Result<std::string> settings = readWholeFile(layout.files().settingsFile());
    say("NOTE", "settings file: " + (settings ? std::to_string(settings.value().size()) + " bytes"
                                              : settings.error().reason()));
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(layout.files().history(), error))
        say("NOTE", "in the history folder: " + entry.path().filename().native() + ", " +
                        std::to_string(entry.is_regular_file() ? entry.file_size() : 0) + " bytes");
    for (const JournalFile& journal : journals)
        say("NOTE", "journal " + journal.id + ": " + std::to_string(journal.contents.records.size()) +
                        " records" + (journal.contents.cutShort ? ", the last cut short" : ""));
    int emptyInfo = 0;
    for (const auto& entry : fs::directory_iterator(layout.home() / ".local/share/Trash/info", error))
        emptyInfo += entry.is_regular_file() && entry.file_size() == 0;
    say("NOTE", "empty info files in the Trash: " + std::to_string(emptyInfo));
    if (layout.scenario == Scenario::Undo)
        return; // the run was completed: all of it must come back
    std::vector<bool> handled(std::size_t(pictures.size()), false);
    if (!layout.strips()) {
        for (const std::string& name : namesIn(layout.destination())) {
            const int index = name[0] == '.' ? -1 : pictures.indexOf(contentOf(layout.destination() / name));
            if (index >= 0)
                handled[std::size_t(index)] = true;
        }
    }
    for (int i = 0; i < pictures.size(); ++i) {
        if (!handled[std::size_t(i)] || isThere(startPlace(layout, pictures, i)))
            say("PENDING", std::to_string(i));
    }
}

} // namespace

int checkStep(const Layout& layout, const std::string& step) {
    const PictureSet pictures = picturesOf(layout);
    std::string problems;
    const std::vector<JournalFile> journals = journalsOnDisk(layout, problems);
    if (step == "cut") {
        noteAfterCut(layout, pictures, journals);
        noteJournals(layout, journals);
        problems += checkStartRecorded(layout, pictures, journals) + checkInfoBeforeItems(layout);
    } else {
        problems += layout.strips()
                        ? stripCensus(layout, pictures)
                        : takeCensus(pictures, layout.source(), layout.destination(), true).problems;
        problems += checkCounter(layout, journals) + checkSavedFolders(layout) + checkTrashInfo(journals);
        if (step == "start")
            problems += checkHistoryListsTheCutRuns(layout, journals);
        if (step == "undone")
            problems += checkUndone(layout, pictures, journals) + checkTrashGivenBack(layout);
    }
    // The first few of a kind say enough; a lagging counter repeats every number after it.
    int lines = 0;
    for (std::size_t start = 0, end = 0; start < problems.size(); start = end + 1, ++lines) {
        end = problems.find('\n', start);
        if (lines < kProblemLines)
            say("PROBLEM", step + ": " + problems.substr(start, end - start));
    }
    if (lines > kProblemLines)
        say("PROBLEM", step + ": and " + std::to_string(lines - kProblemLines) + " more");
    return 0;
}

} // namespace corvalin::test
