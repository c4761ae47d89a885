#include "preview/thumbnail_cache.h"

#include "platform/file_ops.h"
#include "preview/thumbnail_names.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// A thumbnail of 1024 pixels is some 2 MB; anything far larger is no entry of ours to read.
constexpr std::size_t kLargestEntry = 32u << 20;

const char* const kFolderNames[kThumbnailFolderCount] = {"normal", "large", "x-large", "xx-large",
                                                         "corvalin"};

// A folder of the cache below `parent`, made (mode 0700) when missing and asked for. Invalid when
// it is missing, and `refused` set when it is a link, no folder or not this user's.
UniqueFd openOwnFolder(int parent, const char* name, bool create, bool& refused) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd folder(::openat(parent, name, flags));
    if (!folder.valid() && errno == ENOENT && create && ::mkdirat(parent, name, 0700) == 0)
        folder = UniqueFd(::openat(parent, name, flags));
    if (!folder.valid()) {
        refused = errno == ELOOP || errno == ENOTDIR;
        return folder;
    }
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0 || info.st_uid != ::geteuid()) {
        refused = true;
        return {};
    }
    return folder;
}

// "1700000000", or "1700000000.25" as some writers keep it: the whole seconds.
std::optional<std::int64_t> secondsIn(std::string_view text) {
    std::int64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end == text.data() || (end != text.data() + text.size() && *end != '.'))
        return std::nullopt;
    return seconds;
}

std::optional<std::uint64_t> sizeIn(std::string_view text) {
    std::uint64_t size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return size;
}

// Failures that will not pass by themselves while the program runs.
bool cacheUnwritable(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOSPC || error == EDQUOT ||
           error == EFBIG;
}

} // namespace

PictureStamp stampOf(const fs::path& file, const struct stat& info) {
    return {fileUri(file), static_cast<std::int64_t>(info.st_mtim.tv_sec),
            static_cast<std::uint64_t>(info.st_size)};
}

bool isThumbnailOf(const std::vector<PngText>& texts, const PictureStamp& picture) {
    const PngText* uri = nullptr;
    for (const PngText& text : texts) {
        if (text.key == "Thumb::URI")
            uri = &text;
    }
    if (!uri || (!uri->compressed && uri->value != picture.uri))
        return false;
    const std::optional<std::string> mtime = textValue(texts, "Thumb::MTime");
    if (!mtime || secondsIn(*mtime) != picture.mtime)
        return false;
    const std::optional<std::string> size = textValue(texts, "Thumb::Size");
    return !size || sizeIn(*size) == picture.size;
}

int longestSideIn(ThumbnailFolder folder) {
    static constexpr int kSides[kThumbnailFolderCount] = {128, 256, 512, 1024, 0};
    return kSides[static_cast<std::size_t>(folder)];
}

ThumbnailCache::ThumbnailCache(fs::path folder) : m_folder(std::move(folder)) {}

int ThumbnailCache::rootFd(bool create) {
    if (m_root.valid() || m_refused)
        return m_root.get();
    const fs::path parent = m_folder.parent_path();
    // The cache home is the user's own setting and may be reached through a link; the cache below
    // it may not.
    if (create)
        (void)createFolderWithParents(parent, 0700);
    const UniqueFd home(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (home.valid())
        m_root = openOwnFolder(home.get(), m_folder.filename().c_str(), create, m_refused);
    return m_root.get();
}

int ThumbnailCache::folderFd(ThumbnailFolder folder, Reach reach) {
    const std::lock_guard lock(m_mutex);
    const std::size_t index = static_cast<std::size_t>(folder);
    UniqueFd& held = m_folders[index];
    if (held.valid() || m_refused || (reach == Reach::LookOnce && m_missing[index]))
        return held.get();
    const bool create = reach == Reach::Create;
    int parent = rootFd(create);
    if (parent >= 0 && folder == ThumbnailFolder::Failures) {
        if (!m_failParent.valid())
            m_failParent = openOwnFolder(parent, "fail", create, m_refused);
        parent = m_failParent.get();
    }
    if (parent >= 0 && !m_refused)
        held = openOwnFolder(parent, kFolderNames[index], create, m_refused);
    m_missing[index] = !held.valid();
    return m_refused ? -1 : held.get();
}

void ThumbnailCache::forgetMissingFolders() {
    const std::lock_guard lock(m_mutex);
    m_missing.fill(false);
}

std::optional<std::string> ThumbnailCache::readEntry(int folder, const std::string& name) const {
    const UniqueFd entry(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!entry.valid() || ::fstat(entry.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > kLargestEntry)
        return std::nullopt;
    std::string png;
    if (readAll(entry.get(), png, kLargestEntry) != 0)
        return std::nullopt;
    return png;
}

void ThumbnailCache::retireFolders() {
    const std::lock_guard lock(m_mutex);
    for (UniqueFd* held : {&m_root, &m_failParent})
        m_retired.push_back(std::move(*held));
    for (UniqueFd& held : m_folders)
        m_retired.push_back(std::move(held));
}

int ThumbnailCache::writeEntry(int folder, const std::string& name, std::string_view png) {
    const std::string temporary =
        ".corvalin-" + std::to_string(::getpid()) + "-" + std::to_string(m_temporaries++) + ".png";
    UniqueFd file(
        ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    int error = file.valid() ? writeAll(file.get(), png) : errno;
    if (file.valid()) {
        if (const int closed = file.close(); error == 0)
            error = closed;
        if (error == 0 && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0)
            error = errno;
        if (error != 0)
            (void)::unlinkat(folder, temporary.c_str(), 0);
    }
    if (cacheUnwritable(error))
        m_readOnly = true;
    return error;
}

std::optional<std::string> ThumbnailCache::find(ThumbnailFolder folder, const PictureStamp& picture) {
    const int fd = folderFd(folder, Reach::Look);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> png = readEntry(fd, thumbnailFileName(picture.uri));
    if (!png)
        return std::nullopt;
    const std::optional<std::vector<PngText>> texts = readPngText(*png);
    if (!texts || !isThumbnailOf(*texts, picture))
        return std::nullopt;
    return png;
}

bool ThumbnailCache::store(ThumbnailFolder folder, const PictureStamp& picture, std::string_view png,
                           const std::vector<std::pair<std::string, std::string>>& extra) {
    if (m_readOnly)
        return false;
    std::vector<std::pair<std::string, std::string>> texts = {{"Thumb::URI", picture.uri},
                                                              {"Thumb::MTime", std::to_string(picture.mtime)},
                                                              {"Thumb::Size", std::to_string(picture.size)},
                                                              {"Software", "Corvalin"}};
    texts.insert(texts.end(), extra.begin(), extra.end());
    const std::optional<std::string> entry = withPngText(png, texts);
    if (!entry)
        return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = folderFd(folder, Reach::Create);
        if (fd < 0) {
            m_readOnly = true; // no cache can be made here
            return false;
        }
        const int error = writeEntry(fd, thumbnailFileName(picture.uri), *entry);
        if (error == 0)
            return true;
        // The folder held was removed meanwhile (the cache emptied by hand or by a cleaner): it is
        // opened, or made, afresh once.
        if (error != ENOENT)
            return false;
        retireFolders();
    }
    return false;
}

bool ThumbnailCache::storeFailure(const PictureStamp& picture) {
    return store(ThumbnailFolder::Failures, picture, blankPng());
}

int ThumbnailCache::follow(const fs::path& from, const fs::path& to) {
    if (m_readOnly || from == to)
        return 0;
    const std::string oldName = thumbnailFileName(fileUri(from));
    // Most pictures have no entry: that is found without looking at the pictures themselves.
    std::vector<int> holding;
    for (std::size_t i = 0; i < kThumbnailFolderCount; ++i) {
        struct stat entry {};
        const int fd = folderFd(static_cast<ThumbnailFolder>(i), Reach::LookOnce);
        if (fd >= 0 && ::fstatat(fd, oldName.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0)
            holding.push_back(fd);
    }
    struct stat now {};
    struct stat before {};
    if (holding.empty() || ::lstat(to.c_str(), &now) != 0 || !S_ISREG(now.st_mode) ||
        ::lstat(from.c_str(), &before) == 0 || errno != ENOENT)
        return 0;
    const PictureStamp moved = stampOf(from, now);
    const PictureStamp there = stampOf(to, now);
    const std::string newName = thumbnailFileName(there.uri);
    int followed = 0;
    for (const int fd : holding)
        followed += moveEntry(fd, oldName, newName, moved, there.uri) ? 1 : 0;
    return followed;
}

// Renamed, then its URI rewritten in place through the descriptor opened before: neither a new
// file made nor the old one freed, which on a disk that trims what is freed costs milliseconds an
// entry. A reader meanwhile finds an entry whose URI is not its picture's, and makes it again; one
// that cannot be rewritten whole is removed, so no damaged entry stays.
bool ThumbnailCache::moveEntry(int folder, const std::string& oldName, const std::string& newName,
                               const PictureStamp& moved, const std::string& newUri) {
    const UniqueFd entry(::openat(folder, oldName.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    std::string png;
    if (!entry.valid() || ::fstat(entry.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        static_cast<std::uint64_t>(info.st_size) > kLargestEntry ||
        readAll(entry.get(), png, kLargestEntry) != 0)
        return false;
    const std::optional<std::vector<PngText>> texts = readPngText(png);
    if (!texts || !isThumbnailOf(*texts, moved))
        return false;
    const std::optional<std::string> rewritten = withPngText(png, {{"Thumb::URI", newUri}});
    if (!rewritten || ::renameat(folder, oldName.c_str(), folder, newName.c_str()) != 0)
        return false;
    const bool whole = ::pwrite(entry.get(), rewritten->data(), rewritten->size(), 0) ==
                           static_cast<ssize_t>(rewritten->size()) &&
                       ::ftruncate(entry.get(), static_cast<off_t>(rewritten->size())) == 0;
    if (!whole)
        (void)::unlinkat(folder, newName.c_str(), 0);
    return whole;
}

} // namespace corvalin
