#include "plan/plan_scan.h"

#include "app/error_text.h"
#include "naming/picture_types.h"

#include <cerrno>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

using Kind = HeldEntry::Kind;

bool isHidden(const std::string& name) {
    return name.front() == '.';
}

// Every entry of a held folder with its kind; nothing when it cannot be listed.
std::vector<HeldFolder::Listed> entriesOf(const HeldFolder& folder) {
    auto listed = folder.list();
    return listed ? std::move(listed.value()) : std::vector<HeldFolder::Listed>{};
}

// False once a folder of another file system is found: the removal stops there.
bool scanInto(const HeldFolder& folder, FolderRemainder& remainder) {
    for (const HeldFolder::Listed& entry : entriesOf(folder)) {
        if (entry.kind == Kind::Folder) {
            const Result<HeldFolder> inner = folder.child(entry.name);
            if (!inner && inner.code() == EXDEV) {
                remainder.mountBelow = folder.pathOf(entry.name);
                return false;
            }
            if (inner && !scanInto(inner.value(), remainder))
                return false;
            continue;
        }
        if (entry.kind == Kind::File && !isHidden(entry.name))
            continue;
        ++remainder.items;
        if (entry.kind != Kind::File)
            continue;
        if (const Result<HeldEntry> file = folder.lookup(entry.name); file && file.value().kind == Kind::File)
            remainder.bytes += file.value().identity.size;
    }
    return true;
}

PlanProblem unreadable(const Error& error) {
    return {ProblemKind::Unreadable, error.path.native(), describeErrorLine(error)};
}

// A picture the run never moves: every one in the source parent folder, and a hidden one (which the
// file lists do not show) in a child folder; its text for a hidden one is written later, when it is
// known whether its folder goes.
void notMoved(const fs::path& path, const std::string& name, bool inSourceParent, const PictureTypes& types,
              std::vector<PlanProblem>& problems) {
    if (!isPicture(name, types))
        return;
    if (inSourceParent)
        problems.push_back({ProblemKind::InSourceParent, path.native(),
                            "移動元親フォルダに直接ある画像です。子フォルダの中の画像だけを移動するため、"
                            "そのまま残ります。"});
    else if (isHidden(name))
        problems.push_back({ProblemKind::HiddenPicture, path.native(), {}});
}

void leftOutIn(const HeldFolder& folder, bool inSourceParent, const PictureTypes& types,
               std::vector<PlanProblem>& problems) {
    auto listed = folder.list();
    if (!listed) {
        problems.push_back(unreadable(listed.error()));
        return;
    }
    for (const HeldFolder::Listed& entry : listed.value()) {
        const fs::path path = folder.pathOf(entry.name);
        if (entry.kind == Kind::File)
            notMoved(path, entry.name, inSourceParent, types, problems);
        else if (entry.kind == Kind::Link)
            problems.push_back(
                {ProblemKind::LeftOut, path.native(), "リンクです。たどらず、移動もしません。"});
        else if (entry.kind == Kind::Other && !isHidden(entry.name) && isPicture(entry.name, types))
            problems.push_back({ProblemKind::LeftOut, path.native(),
                                "普通のファイルではありません（名前付きパイプ、ソケット、デバイス）。"
                                "移動しません。"});
        else if (entry.kind == Kind::Folder && folder.child(entry.name).code() == EXDEV)
            problems.push_back({ProblemKind::LeftOut, path.native(),
                                "別のファイルシステムがマウントされています。中には入りません。"});
    }
}

} // namespace

FolderRemainder scanRemainder(const HeldFolder& folder) {
    FolderRemainder remainder;
    scanInto(folder, remainder);
    return remainder;
}

void findLeftOut(const HeldFolder& source, SurveyedFolders& folders, std::size_t count,
                 const PictureTypes& types, std::vector<PlanProblem>& problems) {
    leftOutIn(source, true, types, problems);
    for (std::size_t i = 0; i < count; ++i) {
        const Result<const HeldFolder*> held = folders.open(i);
        if (!held)
            problems.push_back(unreadable(held.error()));
        else if (held.value())
            leftOutIn(*held.value(), false, types, problems);
    }
}

} // namespace corvalin
