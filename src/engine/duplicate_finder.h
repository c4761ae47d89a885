#pragma once

#include "naming/picture_types.h"
#include "platform/result.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvalin {

// Finds, for a picture about to be moved, a picture of exactly the same bytes among those directly
// in the destination and those the run has put there. Only files of the picture's size are looked
// at; they are told apart by a hash of their first block, then by a hash of their whole content,
// each computed once a file and kept, and a match is always confirmed byte for byte. A file that
// cannot be read, or changes while it is read, matches nothing. Names and dates never count.
class DuplicateFinder {
public:
    // The pictures (as `types` has them) directly in `destination`, by size: read when it is not
    // the folder read last (what the run put into another destination is forgotten with it).
    Status useDestination(const std::filesystem::path& destination, const PictureTypes& types);
    // Starts reading `destination` on a thread of its own, so that its listing shares the machine
    // with the run's survey; useDestination() for the same folder takes what it found.
    void prefetch(const std::filesystem::path& destination, const PictureTypes& types);

    // A match found: which file, to be named by pathOf() and asked about by pending().
    struct Twin {
        bool added = false;
        std::size_t index = 0;
    };
    // The picture with the bytes of `source`, or nothing.
    std::optional<Twin> twinOf(const std::filesystem::path& source);
    // The twin's path in the destination.
    std::filesystem::path pathOf(Twin twin) const;
    // True while the twin is a copy still waiting for its name.
    bool pending(Twin twin) const;

    // `source` has gone to the destination under `shown`; its bytes are read at `readable` (the
    // same path once moved; the source where nothing moves). A copy still waiting for its name is
    // `pending`, with `readable` its source, until named().
    void add(const std::filesystem::path& source, const std::filesystem::path& readable,
             const std::filesystem::path& shown, bool pending);
    void named(const std::filesystem::path& source, const std::filesystem::path& final);

    std::size_t listedCount() const { return m_store.listed.size(); }

private:
    // What is known of a file's content; a file that failed once is never read again. A listed
    // file's name is placed in the room the flags leave, so that an entry takes 32 bytes.
    struct Known {
        std::uint64_t head = 0;
        std::uint64_t whole = 0;
        std::uint32_t nameAt = 0; // listed files only
        std::uint8_t nameLength = 0;
        bool hasHead = false;
        bool hasWhole = false;
        bool unreadable = false;
    };
    // A picture in the destination as listed, for destinations of 200,000 and more.
    struct Listed {
        std::uint64_t size = 0;
        Known known;
    };
    static_assert(sizeof(Listed) == 32);
    // The destination's pictures as read, sorted by size, and the names of all the finder knows,
    // each followed by a NUL, in blocks of their own (a deque grows without a copy).
    struct Store {
        std::deque<Listed> listed;
        std::vector<std::unique_ptr<char[]>> nameBlocks;
        std::size_t nameBlockUsed = 0;
        Status status;
    };

    struct Candidate {
        std::filesystem::path path;
        std::uint64_t size = 0;
        Known known;
    };
    enum class Comparison { Equal, Differ, CandidateFailed };

    void clear();
    static Store readDestination(const std::filesystem::path& destination, const PictureTypes& types);
    static void keepName(Store& store, std::string_view name, Known& known);
    static const char* nameIn(const Store& store, const Listed& listed);
    std::string_view nameOf(const Listed& listed) const;
    std::vector<Twin> sameSize(std::uint64_t size) const;
    std::filesystem::path readPathOf(Twin twin) const;
    Known& knownOf(Twin twin);
    bool headOf(Twin twin);
    bool wholeOf(Twin twin);
    bool candidateHead();
    bool candidateWhole();
    std::optional<Twin> confirmed(const std::vector<Twin>& twins);
    Comparison compareWith(Twin twin);

    std::optional<std::filesystem::path> m_folder;
    Store m_store;
    std::filesystem::path m_prefetchFolder;
    std::future<Store> m_prefetched;
    // What the run put there, by its name there; those whose bytes are still read elsewhere (a
    // plan's pictures, copies waiting for their names) have that path in m_readElsewhere.
    std::vector<Listed> m_added;
    std::unordered_multimap<std::uint64_t, std::size_t> m_addedBySize;
    std::unordered_map<std::size_t, std::filesystem::path> m_readElsewhere;
    std::unordered_map<std::string, std::size_t> m_pendingBySource;
    Candidate m_candidate;
};

} // namespace corvalin
