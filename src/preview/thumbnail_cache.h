#pragma once

#include "platform/posix_io.h"
#include "preview/png_text.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct stat;

namespace corvalin {

// What a thumbnail belongs to: its picture's URI, and the picture's modification time (seconds)
// and size as they are now.
struct PictureStamp {
    std::string uri;
    std::int64_t mtime = 0;
    std::uint64_t size = 0;
};
PictureStamp stampOf(const std::filesystem::path& file, const struct stat& info);

// True when an entry's text says it is the thumbnail of the picture as it is now: the same URI,
// the same modification time, and the same size where the entry keeps one. A URI kept compressed
// is taken on the entry's name, which is that URI's digest.
bool isThumbnailOf(const std::vector<PngText>& texts, const PictureStamp& picture);

// The folders of the cache: the four sizes (the longer side at most 128, 256, 512 and 1024 pixels)
// and this program's own record of the pictures it could not read.
enum class ThumbnailFolder { Normal, Large, XLarge, XXLarge, Failures };
inline constexpr std::size_t kThumbnailFolderCount = 5;
// The longer side of a thumbnail in `folder`; 0 for Failures.
int longestSideIn(ThumbnailFolder folder);

// The desktop's shared thumbnail cache ($XDG_CACHE_HOME/thumbnails): the one place outside the
// folders a run was given that Corvalin writes. It is reached only through descriptors of its own
// folders, each opened without following a link and owned by this user: a cache folder that is a
// link or someone else's is neither read nor written. Entries are written under a temporary name
// and renamed, mode 0600, and never flushed (a thumbnail lost to a power cut is made again). A write
// that fails is skipped without a word, and after one the cache is only read (read-only, full).
// Safe to use from several threads at once.
class ThumbnailCache {
public:
    // The cache in `folder`; nothing is opened or made until it is used.
    explicit ThumbnailCache(std::filesystem::path folder);
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;

    // The PNG of `picture`'s entry in `folder` when it is valid; nothing when there is none, it is
    // out of date or it is damaged.
    std::optional<std::string> find(ThumbnailFolder folder, const PictureStamp& picture);
    // Stores `png`, made by this program, as `picture`'s entry in `folder`, with the text the
    // standard asks for and `extra`. False when it could not be written.
    bool store(ThumbnailFolder folder, const PictureStamp& picture, std::string_view png,
               const std::vector<std::pair<std::string, std::string>>& extra = {});
    // Records that `picture` is no picture this program can read, until it changes.
    bool storeFailure(const PictureStamp& picture);

    // After the picture at `from` was moved or renamed to `to`: each of its entries that is valid
    // for the picture as it is now is renamed to `to`'s name and its URI rewritten (the image data
    // kept as it is); out-of-date entries stay. Nothing is done when `to` is no regular file or
    // something lies at `from` again (the move did not take place). The number of entries moved.
    int follow(const std::filesystem::path& from, const std::filesystem::path& to);
    // Folders found missing while following are not looked for again (a run of 10,000 pictures
    // would otherwise ask for each missing size 10,000 times) until this is called.
    void forgetMissingFolders();

    // False once a write has failed.
    bool writable() const { return !m_readOnly; }

private:
    // Whether a missing folder is made, looked for again, or taken as missing when it was before.
    enum class Reach { Create, Look, LookOnce };
    int folderFd(ThumbnailFolder folder, Reach reach);
    int rootFd(bool create);
    void retireFolders();
    std::optional<std::string> readEntry(int folder, const std::string& name) const;
    // 0, or the errno that stopped it.
    int writeEntry(int folder, const std::string& name, std::string_view png);
    bool moveEntry(int folder, const std::string& oldName, const std::string& newName,
                   const PictureStamp& moved, const std::string& newUri);

    std::filesystem::path m_folder;
    std::mutex m_mutex; // guards the opening of the folders below
    UniqueFd m_root;
    UniqueFd m_failParent;
    std::array<UniqueFd, kThumbnailFolderCount> m_folders;
    std::array<bool, kThumbnailFolderCount> m_missing{};
    // Folders removed while held (someone emptied the cache): kept open until the end, since
    // another thread may be using one this moment.
    std::vector<UniqueFd> m_retired;
    bool m_refused = false;
    std::atomic<bool> m_readOnly = false;
    std::atomic<unsigned> m_temporaries = 0;
};

} // namespace corvalin
