#pragma once

#include "naming/picture_types.h"
#include "platform/file_identity.h"
#include "platform/held_folder.h"
#include "platform/result.h"
#include "platform/same_content.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvalin {

// Finds, for a picture about to be moved, a picture of exactly the same bytes among those directly
// in the destination and those the run has put there. Only files of the picture's size are looked
// at; they are told apart by a hash of their first block, then by a hash of their whole content,
// each computed once a file and kept, and a match is always confirmed byte for byte. A file that
// cannot be read, or changes while it is read, matches nothing. Names and dates never count.
// Every file is read by its name in a held folder: the destination, held by the finder, the
// picture's own folder, held by the caller, or the folder of a picture not moved yet, opened again
// below the held source parent folder without following a link.
class DuplicateFinder {
public:
    // The pictures (as `types` has them) directly in `destination`, by size: read when it is not
    // the folder read last (what the run put into another destination is forgotten with it).
    Status useDestination(const HeldFolder& destination, const PictureTypes& types);
    // The destination's own pictures are read and compared by another finder (a lookahead): until
    // adoptListing(), only what the run puts there is looked at.
    Status expectListing(const HeldFolder& destination);
    // Takes the destination as `other` read it, or reads it now if `other` did not; what the run has
    // put there so far stays known.
    Status adoptListing(DuplicateFinder&& other, const PictureTypes& types);

    // A match found: which file, to be named by pathOf() and asked about by pending().
    struct Twin {
        bool added = false;
        std::size_t index = 0;
    };
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
    // What was learnt of the picture looked at last; another finder's may be handed on.
    struct Candidate {
        std::filesystem::path path;
        bool present = false; // a regular file when it was asked
        std::uint64_t size = 0;
        Known known;
    };
    // The picture with the bytes of the picture `name` of `folder`, or nothing.
    std::optional<Twin> twinOf(const HeldFolder& folder, const std::string& name);
    // The same for a picture another finder has looked at in `folder`, with what it learnt of it.
    std::optional<Twin> twinOf(const Candidate& candidate, const HeldFolder& folder);
    const Candidate& candidate() const { return m_candidate; }
    // The picture and its twin as they were when they were last found equal.
    const std::pair<FileStamp, FileStamp>& matchStamps() const { return m_matchStamps; }
    // The twin's path in the destination.
    std::filesystem::path pathOf(Twin twin) const;
    // True while the twin is a copy still waiting for its name.
    bool pending(Twin twin) const;

    // Pictures not moved yet (a plan's, copies waiting for their names) are read where they lie,
    // their folder opened again below `sourceParent`, and only while they are the very file added.
    Status readSourcesBelow(const HeldFolder& sourceParent);
    // `source`, the file `picture`, has gone to the destination under `shown`; its bytes are read at
    // `readable` (the same path once moved; the source where nothing moves). A copy still waiting
    // for its name is `pending`, with `readable` its source, until named().
    void add(const std::filesystem::path& source, const FileIdentity& picture,
             const std::filesystem::path& readable, const std::filesystem::path& shown, bool pending);
    void named(const std::filesystem::path& source, const std::filesystem::path& final);

private:
    // A picture in the destination as listed, for destinations of 200,000 and more.
    struct Listed {
        std::uint64_t size = 0;
        Known known;
    };
    static_assert(sizeof(Listed) == 32);
    // Names, each followed by a NUL, in blocks of their own (a deque grows without a copy).
    struct Names {
        std::vector<std::unique_ptr<char[]>> blocks;
        std::size_t used = 0;
    };
    // The destination's pictures as read, sorted by size, and their names.
    struct Store {
        std::deque<Listed> listed;
        Names names;
        Status status;
    };
    enum class Comparison { Equal, Differ, CandidateFailed };
    // A picture not moved yet: where it lies, and which file it was.
    struct Elsewhere {
        std::filesystem::path path;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
    };
    // Where a twin's bytes are read: its folder (the destination, or one opened for it) and name.
    struct ReadAt {
        std::optional<HeldFolder> opened;
        const HeldFolder* held = nullptr;
        std::string name;
        const Elsewhere* elsewhere = nullptr;
        const HeldFolder* folder() const { return opened ? &*opened : held; }
    };

    void clear();
    static Store readDestination(const HeldFolder& destination, const PictureTypes& types);
    static void keepName(Names& names, std::string_view name, Known& known);
    static const char* nameIn(const Names& names, const Known& known);
    std::string_view nameOf(Twin twin) const;
    std::vector<Twin> sameSize(std::uint64_t size) const;
    ReadAt readAtOf(Twin twin) const;
    std::string candidateName() const;
    Known& knownOf(Twin twin);
    bool headOf(Twin twin);
    bool wholeOf(Twin twin);
    bool candidateHead();
    bool candidateWhole();
    std::optional<Twin> twinOfCandidate();
    std::optional<Twin> twinOfCandidateIn(const HeldFolder& folder);
    std::optional<Twin> confirmed(const std::vector<Twin>& twins);
    Comparison compareWith(Twin twin);

    std::optional<std::filesystem::path> m_folder;
    std::optional<HeldFolder> m_held;       // the destination
    std::optional<HeldFolder> m_sourceRoot; // where pictures not moved yet are found
    Store m_store;
    bool m_listingElsewhere = false;
    // What the run put there, by its name there (kept in m_addedNames); those whose bytes are still
    // read elsewhere (a plan's pictures, copies waiting for their names) have that path in
    // m_readElsewhere.
    std::vector<Listed> m_added;
    Names m_addedNames;
    std::unordered_multimap<std::uint64_t, std::size_t> m_addedBySize;
    std::unordered_map<std::size_t, Elsewhere> m_readElsewhere;
    std::unordered_map<std::string, std::size_t> m_pendingBySource;
    Candidate m_candidate;
    const HeldFolder* m_candidateFolder = nullptr; // during a twinOf() only
    std::pair<FileStamp, FileStamp> m_matchStamps;
};

} // namespace corvalin
