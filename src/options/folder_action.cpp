#include "options/folder_action.h"

#include "app/error_text.h"
#include "app/message_box.h"
#include "history/journal_messages.h"
#include "options/leading_number.h"
#include "platform/file_ops.h"
#include "platform/held_folder.h"
#include "platform/name_text.h"
#include "platform/paths.h"

#include <cerrno>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kTooManyChildFolders =
    "一度に作れる子フォルダは10000個までです。\n作る数を減らしてください。";
const char* const kFolderNotFound = "フォルダが見つかりません。";
const char* const kDeleteQuestion = "とその下位フォルダを削除します。";
const char* const kReplacedWhileAsked =
    "は、削除の確認の間に別のフォルダに置き換わっていたため、何も削除しませんでした。";

// Only a name that is taken lets the action go on; any other failure ends it.
bool isTaken(const Status& status) {
    return status.code() == EEXIST;
}

// The action's journal, opened when it is about to change something; none without a history
// folder. False when the action is refused for it (the user has been told).
bool openActionJournal(const FolderActionRequest& request, RunKind kind, MessageBox& messages,
                       std::optional<RunJournal>& journal) {
    if (request.historyFolder.empty())
        return true;
    RunStart start;
    start.kind = kind;
    start.serialNo = request.serialNo;
    start.source = request.parent;
    if (kind == RunKind::MakeFolders)
        start.options = "count=" + request.countText;
    return openRunJournal(messages, request.historyFolder, start, journal);
}

// A folder that exists already is not the action's: it is neither recorded nor made.
Status makeRecorded(const HeldFolder& parent, const std::string& name, std::optional<RunJournal>& journal) {
    const Result<HeldEntry> existing = parent.lookup(name);
    if (!existing)
        return existing.error();
    if (existing.value().kind != HeldEntry::Kind::None)
        return errorFromErrno("フォルダの作成", parent.pathOf(name), EEXIST);
    if (journal) {
        if (Status recorded = journal->recordFolderMade(parent.pathOf(name)); !recorded)
            return recorded;
    }
    return parent.makeFolder(name);
}

// The missing parent folder made one level below its own parent and opened there, without
// following a link that took its name meanwhile.
Result<HeldFolder> makeParent(const fs::path& parent, std::optional<RunJournal>& journal) {
    const Result<HeldFolder> above = HeldFolder::open(parent.parent_path());
    if (!above)
        return above.error();
    const std::string name = ownName(parent);
    if (const Status made = makeRecorded(above.value(), name, journal); !made && !isTaken(made))
        return made.error();
    return above.value().child(name);
}

FolderActionResult makeChildFolders(const fs::path& typed, const std::string& countText, double count,
                                    std::optional<RunJournal>& journal) {
    FolderActionResult result;
    // As the journal means it: a folder typed relative to the working folder is below that.
    const fs::path parent =
        withoutTrailingSlash(typed.is_absolute() ? typed : joinPath(workingFolder(), typed));
    // An existing parent is the user's choice, the links on its path included.
    const bool missing = lookupEntry(parent) == EntryKind::None;
    const Result<HeldFolder> held = missing ? makeParent(parent, journal) : HeldFolder::open(parent);
    if (missing && !held)
        return result;
    result.refreshLists = missing;
    const std::string name = childBaseName(typed);
    result.makerPath = typed;
    const std::size_t width = characterCount(countText);
    for (int k = 1; k <= count; ++k) {
        const std::optional<std::string> childName = numberedChildName(name, k, width);
        if (!childName || !held)
            return result;
        const Status made = makeRecorded(held.value(), *childName, journal);
        if (made) {
            ++result.created;
            result.refreshLists = true;
        } else if (!isTaken(made)) {
            return result;
        }
    }
    result.refreshLists = true;
    return result;
}

FolderActionResult createChildFolders(const FolderActionRequest& request, MessageBox& messages) {
    FolderActionResult result;
    const fs::path& parent = request.parent;
    const std::string& countText = request.countText;
    double count = readLeadingNumber(countText);
    // The parent is still made and kept, as for a count that makes no child folder.
    if (count > kMaxChildFolders) {
        messages.show(kTooManyChildFolders, MessageButtons::Ok, MessageIcon::Warning);
        count = 0;
    }
    std::optional<RunJournal> journal;
    if (!openActionJournal(request, RunKind::MakeFolders, messages, journal))
        return result;
    result = makeChildFolders(parent, countText, count, journal);
    finishRunJournal(messages, journal, kOutcomeCompleted);
    return result;
}

// The folder to delete, held before the question: what goes is the very folder the user was asked
// about, reached by its name in its parent without following a link.
struct HeldForRemoval {
    HeldFolder parent;
    std::string name;
    FolderId id;
};

Result<HeldForRemoval> holdForRemoval(const fs::path& folder) {
    const fs::path path = withoutTrailingSlash(folder);
    const fs::path above = path.has_parent_path() ? path.parent_path() : fs::path(".");
    Result<HeldFolder> parent = HeldFolder::open(above);
    if (!parent)
        return parent.error();
    const std::string name = ownName(path);
    const Result<HeldFolder> held = parent.value().child(name);
    if (!held)
        return errorFromErrno("フォルダの削除", path, held.code() == ELOOP ? ENOTDIR : held.code());
    return HeldForRemoval{std::move(parent.value()), name, held.value().id()};
}

// After a confirmed deletion the user must learn that it stopped halfway.
void removeRecorded(const FolderActionRequest& request, MessageBox& messages, const Removal& removal,
                    const HeldForRemoval& folder) {
    std::optional<RunJournal> journal;
    if (!openActionJournal(request, RunKind::RemoveFolder, messages, journal))
        return;
    const Removal recorded = journal ? journal->recordingRemoval(removal) : removal;
    Status removed = recorded.removeFolder(folder.parent, folder.name, &folder.id).status();
    // Into the Trash once its info file is on the disk with the journal.
    if (removed && journal)
        removed = journal->settle();
    // Changed while it waited for the Trash: it stays, as one changed during the question does.
    if (removed && journal && !recorded.waitingItems()->takeFoldersLeft().empty())
        removed = errorFromErrno("フォルダの削除", request.parent, ESTALE);
    if (removed.code() == ESTALE)
        messages.show(legibleName(request.parent.native()) + kReplacedWhileAsked, MessageButtons::Ok,
                      MessageIcon::Warning);
    else if (!removed)
        messages.show(describeError(removed.error()), MessageButtons::Ok, MessageIcon::Warning);
    finishRunJournal(messages, journal, removed ? kOutcomeCompleted : kOutcomeFailed);
}

FolderActionResult deleteParentFolder(const FolderActionRequest& request, MessageBox& messages,
                                      const ProtectedPlaces& places, const Removal& removal) {
    const fs::path& parent = request.parent;
    if (lookupEntry(parent) == EntryKind::None) {
        messages.show(kFolderNotFound, MessageButtons::Ok, MessageIcon::None);
        return {};
    }
    if (const std::optional<std::string> refusal = refusalToDelete(parent, places)) {
        messages.show(*refusal, MessageButtons::Ok, MessageIcon::Warning);
        return {};
    }
    if (const Status usable = removal.checkUsable(parent); !usable) {
        messages.show(describeError(usable.error()), MessageButtons::Ok, MessageIcon::Warning);
        return {};
    }
    const Result<HeldForRemoval> held = holdForRemoval(parent);
    if (!held) {
        messages.show(describeError(held.error()), MessageButtons::Ok, MessageIcon::Warning);
        return {};
    }
    const MessageAnswer answer = messages.show(legibleName(parent.native()) + kDeleteQuestion,
                                               MessageButtons::YesNoCancel, MessageIcon::Warning);
    if (answer == MessageAnswer::Cancel)
        return {};
    if (answer == MessageAnswer::Yes)
        removeRecorded(request, messages, removal, held.value());
    FolderActionResult result;
    result.refreshLists = true;
    return result;
}

} // namespace

FolderActionResult runFolderAction(const FolderActionRequest& request, MessageBox& messages,
                                   const ProtectedPlaces& places, const Removal& removal) {
    switch (request.choice) {
    case FolderChoice::Create:
        return createChildFolders(request, messages);
    case FolderChoice::Delete:
        return deleteParentFolder(request, messages, places, removal);
    case FolderChoice::None:
        break;
    }
    FolderActionResult result;
    result.refreshLists = true;
    return result;
}

std::optional<std::string> numberedChildName(const std::string& parentName, int k, std::size_t width) {
    const std::string digits = std::to_string(k);
    if (width < digits.size())
        return std::nullopt;
    return parentName + "_" + std::string(width - digits.size(), '0') + digits;
}

std::string childBaseName(const fs::path& parent) {
    std::string name = ownName(parent);
    if (name == "." || name == "..") {
        std::error_code error;
        const fs::path resolved = fs::canonical(parent, error);
        if (!error)
            name = ownName(resolved);
    }
    return name == "/" ? std::string() : name;
}

} // namespace corvalin
