#include "options/folder_action.h"

#include "app/error_text.h"
#include "app/message_box.h"
#include "options/leading_number.h"
#include "platform/file_ops.h"
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

// Only a name that is taken lets the action go on; any other failure ends it.
bool isTaken(const Status& status) {
    return status.code() == EEXIST;
}

FolderActionResult createChildFolders(const fs::path& parent, const std::string& countText,
                                      MessageBox& messages) {
    FolderActionResult result;
    const double count = readLeadingNumber(countText);
    if (count > kMaxChildFolders) {
        messages.show(kTooManyChildFolders, MessageButtons::Ok, MessageIcon::Warning);
        return result;
    }
    if (lookupEntry(parent) == EntryKind::None) {
        const Status made = createFolder(parent);
        if (!made && !isTaken(made))
            return result;
        result.refreshLists = made.ok();
    }
    const std::string name = childBaseName(parent);
    result.makerPath = parent;
    const std::size_t width = characterCount(countText);
    for (int k = 1; k <= count; ++k) {
        const std::optional<std::string> childName = numberedChildName(name, k, width);
        if (!childName)
            return result;
        const Status made = createFolder(joinPath(parent, *childName));
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

FolderActionResult deleteParentFolder(const fs::path& parent, MessageBox& messages,
                                      const ProtectedPlaces& places, const Removal& removal) {
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
    const MessageAnswer answer = messages.show(legibleName(parent.native()) + kDeleteQuestion,
                                               MessageButtons::YesNoCancel, MessageIcon::Warning);
    if (answer == MessageAnswer::Cancel)
        return {};
    if (answer == MessageAnswer::Yes) {
        // After a confirmed deletion the user must learn that it stopped halfway.
        const Status removed = removal.removeFolder(parent).status();
        if (!removed)
            messages.show(describeError(removed.error()), MessageButtons::Ok, MessageIcon::Warning);
    }
    FolderActionResult result;
    result.refreshLists = true;
    return result;
}

} // namespace

FolderActionResult runFolderAction(const FolderActionRequest& request, MessageBox& messages,
                                   const ProtectedPlaces& places, const Removal& removal) {
    switch (request.choice) {
    case FolderChoice::Create:
        return createChildFolders(request.parent, request.countText, messages);
    case FolderChoice::Delete:
        return deleteParentFolder(request.parent, messages, places, removal);
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
