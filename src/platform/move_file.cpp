// Moving a file without ever replacing one. Across file systems a move is a copy, made in a batch of
// one (cross_device_batch.cpp describes the steps and the hidden files they leave at each instant,
// interrupted_moves.cpp how the next start finishes them).
#include "platform/file_ops.h"

#include "platform/cross_device_batch.h"
#include "platform/paths.h"
#include "platform/posix_io.h"

#include <cerrno>
#include <string>
#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// The one name a single move may take; a taken name fails it.
class FixedName : public CopyNaming {
public:
    FixedName(fs::path from, fs::path to) : m_from(std::move(from)), m_to(std::move(to)) {}
    Result<fs::path> finalPathFor(const fs::path&, const FileIdentity&, bool taken) override {
        if (taken)
            return errorFromErrno(kMoveText, m_from, EEXIST);
        return m_to;
    }
    void copyNamed(const fs::path&) override {}

private:
    fs::path m_from;
    fs::path m_to;
};

} // namespace

Status moveAcross(const HeldFolder& from, const std::string& name, const HeldFolder& to,
                  const std::string& newName) {
    // A name taken already saves a copy that could never be named.
    const Result<HeldEntry> taken = to.lookup(newName);
    if (!taken || taken.value().kind != HeldEntry::Kind::None)
        return errorFromErrno(kMoveText, from.pathOf(name), taken ? EEXIST : taken.code());
    // For one file its own flushes wait for less than a whole file system's.
    CrossDeviceBatch batch(to, {.count = 1, .flush = BatchFlush::EachFile});
    if (Status added = batch.add(from, name); !added)
        return added;
    FixedName naming(from.pathOf(name), to.pathOf(newName));
    return batch.commit(naming);
}

Status moveNoReplace(const fs::path& from, const fs::path& to) {
    int error = renameNoReplace(from.native(), to.native());
    if (error == EINVAL || error == ENOSYS)
        error = linkThenUnlink(from.native(), to.native());
    if (error == EXDEV) {
        const Result<HeldFolder> fromFolder = HeldFolder::open(folderOf(from.native()));
        const Result<HeldFolder> toFolder =
            fromFolder ? HeldFolder::open(folderOf(to.native())) : Result<HeldFolder>(fromFolder.error());
        if (!toFolder)
            return errorFromErrno(kMoveText, from, toFolder.code());
        return moveAcross(fromFolder.value(), ownName(from), toFolder.value(), ownName(to));
    }
    if (error != 0)
        return errorFromErrno(kMoveText, from, error);
    return {};
}

} // namespace corvalin
