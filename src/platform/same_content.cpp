#include "platform/same_content.h"

#include "platform/posix_io.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kReadText = "画像の内容の比較";
constexpr std::size_t kChunk = 64 * 1024; // a multiple of eight, as ContentHash wants

std::uint64_t mix(std::uint64_t state, std::uint64_t word) {
    state = (state ^ word) * 0x9e3779b97f4a7c15ULL;
    return state ^ (state >> 29);
}

// An open file and what it was when opened, so that a change during the reading is seen.
struct OpenFile {
    UniqueFd fd;
    struct stat before {};
};

FileStamp stampOf(const struct stat& info) {
    const auto nanoseconds = [](const timespec& time) {
        return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    return {std::uint64_t(info.st_dev), std::uint64_t(info.st_ino), std::int64_t(info.st_size),
            nanoseconds(info.st_ctim), nanoseconds(info.st_mtim)};
}

// Relative to the held folder, never through a link, never waiting on a FIFO, a regular file only.
Result<OpenFile> openExpecting(FileIn file, std::uint64_t size) {
    const fs::path shown = file.folder.pathOf(file.name);
    OpenFile open;
    Result<UniqueFd> opened = file.folder.openForReading(file.name);
    if (!opened)
        return errorFromErrno(kReadText, shown, opened.code());
    open.fd = std::move(opened.value());
    if (::fstat(open.fd.get(), &open.before) != 0)
        return errorFromErrno(kReadText, shown, errno);
    if (!S_ISREG(open.before.st_mode) || static_cast<std::uint64_t>(open.before.st_size) != size)
        return errorFromErrno(kReadText, shown, kChangedWhileRead);
    ::posix_fadvise(open.fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return open;
}

// The file is still as it was opened; otherwise what was read may mix two contents.
Status unchanged(const OpenFile& open, const fs::path& file) {
    struct stat after {};
    if (::fstat(open.fd.get(), &after) != 0)
        return errorFromErrno(kReadText, file, errno);
    return stampOf(open.before) == stampOf(after) ? Status()
                                                  : errorFromErrno(kReadText, file, kChangedWhileRead);
}

// Hashes up to `limit` bytes from the start; a file that ends early changed since it was opened.
// Only the whole hash checks the file once more at its end: a head that changed meanwhile only
// makes a file match nothing, or be compared and found different, since every match is confirmed
// by compareContents.
Result<std::uint64_t> hashOf(FileIn file, std::uint64_t size, std::uint64_t limit) {
    Result<OpenFile> open = openExpecting(file, size);
    if (!open)
        return open.error();
    const fs::path shown = file.folder.pathOf(file.name);
    std::array<char, kChunk> buffer;
    ContentHash hash;
    const std::uint64_t wanted = std::min(size, limit);
    for (std::uint64_t done = 0; done < wanted;) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, wanted - done));
        const ssize_t got = readFull(open.value().fd.get(), buffer.data(), piece);
        if (got < 0)
            return errorFromErrno(kReadText, shown, errno);
        if (static_cast<std::size_t>(got) != piece)
            return errorFromErrno(kReadText, shown, kChangedWhileRead);
        hash.add(buffer.data(), piece);
        done += piece;
    }
    if (wanted == size) {
        if (Status same = unchanged(open.value(), shown); !same)
            return same.error();
    }
    return hash.value();
}

} // namespace

void ContentHash::add(const char* data, std::size_t size) {
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, data + at, 8);
        m_state = mix(m_state, word);
    }
    if (at < size) {
        std::uint64_t word = 0;
        std::memcpy(&word, data + at, size - at);
        m_state = mix(m_state, word ^ (std::uint64_t(size - at) << 56));
    }
    m_length += size;
}

std::uint64_t ContentHash::value() const {
    return mix(m_state, m_length);
}

Result<std::uint64_t> headHashOf(const HeldFolder& folder, const std::string& name, std::uint64_t size) {
    return hashOf({folder, name}, size, kHeadBytes);
}

Result<std::uint64_t> wholeHashOf(const HeldFolder& folder, const std::string& name, std::uint64_t size) {
    return hashOf({folder, name}, size, size);
}

std::optional<FileStamp> currentStampOf(const HeldFolder& folder, const std::string& name) {
    struct stat info {};
    if (!isPlainName(name) || ::fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return stampOf(info);
}

Result<ContentComparison> compareContents(FileIn firstFile, FileIn secondFile, std::uint64_t size) {
    const fs::path first = firstFile.folder.pathOf(firstFile.name);
    const fs::path second = secondFile.folder.pathOf(secondFile.name);
    Result<OpenFile> a = openExpecting(firstFile, size);
    if (!a)
        return a.error();
    Result<OpenFile> b = openExpecting(secondFile, size);
    if (!b)
        return b.error();
    const FileStamp stampOne = stampOf(a.value().before);
    const FileStamp stampTwo = stampOf(b.value().before);
    if (stampOne.device == stampTwo.device && stampOne.inode == stampTwo.inode)
        return ContentComparison{true, std::nullopt, stampOne, stampTwo};
    std::array<char, kChunk> one;
    std::array<char, kChunk> two;
    ContentHash hash; // of both, as long as they agree
    for (std::uint64_t done = 0; done < size;) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done));
        const ssize_t gotOne = readFull(a.value().fd.get(), one.data(), piece);
        if (gotOne < 0)
            return errorFromErrno(kReadText, first, errno);
        const ssize_t gotTwo = readFull(b.value().fd.get(), two.data(), piece);
        if (gotTwo < 0)
            return errorFromErrno(kReadText, second, errno);
        if (static_cast<std::size_t>(gotOne) != piece)
            return errorFromErrno(kReadText, first, kChangedWhileRead);
        if (static_cast<std::size_t>(gotTwo) != piece)
            return errorFromErrno(kReadText, second, kChangedWhileRead);
        if (std::memcmp(one.data(), two.data(), piece) != 0)
            return ContentComparison{false, std::nullopt, stampOne, stampTwo};
        hash.add(one.data(), piece);
        done += piece;
    }
    if (Status same = unchanged(a.value(), first); !same)
        return same.error();
    if (Status same = unchanged(b.value(), second); !same)
        return same.error();
    return ContentComparison{true, hash.value(), stampOne, stampTwo};
}

namespace {

const char* const kListText = "移動先フォルダの読み取り";

} // namespace

// Listed through a descriptor of its own, so that the held one's reading position is never shared
// with another thread.
Status forEachFileName(const HeldFolder& folder, const std::function<bool(std::string_view name)>& wanted,
                       const std::function<void(std::string_view name)>& take) {
    const int fd = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return errorFromErrno(kListText, folder.path(), error);
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.front() != '.' && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) && wanted(name))
            take(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    return error == 0 ? Status() : errorFromErrno(kListText, folder.path(), error);
}

Status sizesIn(const HeldFolder& folder, std::size_t count, unsigned threads,
               const std::function<const char*(std::size_t index)>& nameAt,
               const std::function<void(std::size_t index, std::optional<std::uint64_t> size)>& sizeAt) {
    // Any failure of a lookup leaves the name out, as one gone since the listing.
    const auto statRange = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            struct stat info {};
            const bool regular =
                ::fstatat(folder.fd(), nameAt(i), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
            sizeAt(i, regular ? std::optional(static_cast<std::uint64_t>(info.st_size)) : std::nullopt);
        }
    };
    // A thread is worth its start only for a few thousand lookups.
    constexpr std::size_t kPerThread = 4096;
    const std::size_t parts = std::clamp<std::size_t>(count / kPerThread, 1, std::max(1u, threads));
    std::vector<std::thread> helpers;
    for (std::size_t part = 1; part < parts; ++part) {
        const std::size_t from = count * part / parts;
        const std::size_t to = count * (part + 1) / parts;
        try {
            helpers.emplace_back(statRange, from, to);
        } catch (const std::system_error&) {
            statRange(from, to); // no thread to be had: the same lookups, one after another
        }
    }
    statRange(0, count / parts);
    for (std::thread& helper : helpers)
        helper.join();
    return {};
}

} // namespace corvalin
