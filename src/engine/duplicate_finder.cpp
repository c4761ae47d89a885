#include "engine/duplicate_finder.h"

#include "platform/paths.h"
#include "platform/same_content.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Names are kept in blocks of their own, so that the store never grows by copying all of them.
constexpr std::size_t kNameBlock = 64 * 1024;

// A listed name whose file turned out to be gone or no regular file.
constexpr std::uint64_t kGone = ~std::uint64_t(0);

unsigned lookupThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

} // namespace

void DuplicateFinder::clear() {
    m_folder.reset();
    m_held.reset();
    m_store = {};
    m_listingElsewhere = false;
    m_added.clear();
    m_addedNames = {};
    m_addedBySize.clear();
    m_readElsewhere.clear();
    m_pendingBySource.clear();
    m_candidate = {};
}

Status DuplicateFinder::useDestination(const HeldFolder& destination, const PictureTypes& types) {
    if (m_folder && m_folder->native() == destination.path().native() &&
        m_held->id().sameAs(destination.id()))
        return {};
    Result<HeldFolder> held = destination.duplicate();
    if (!held)
        return held.error();
    Store store = readDestination(held.value(), types);
    clear();
    if (!store.status)
        return store.status;
    m_store = std::move(store);
    m_folder = destination.path();
    m_held = std::move(held.value());
    return {};
}

Status DuplicateFinder::expectListing(const HeldFolder& destination) {
    clear();
    Result<HeldFolder> held = destination.duplicate();
    if (!held)
        return held.error();
    m_folder = destination.path();
    m_held = std::move(held.value());
    m_listingElsewhere = true;
    return {};
}

Status DuplicateFinder::readSourcesBelow(const HeldFolder& sourceParent) {
    Result<HeldFolder> held = sourceParent.duplicate();
    if (!held)
        return held.error();
    m_sourceRoot = std::move(held.value());
    return {};
}

Status DuplicateFinder::adoptListing(DuplicateFinder&& other, const PictureTypes& types) {
    if (!m_listingElsewhere)
        return {};
    m_listingElsewhere = false;
    const bool read = other.m_folder && other.m_folder->native() == m_folder->native() &&
                      other.m_held->id().sameAs(m_held->id());
    Store store = read ? std::move(other.m_store) : readDestination(*m_held, types);
    if (!store.status) {
        m_folder.reset(); // read again by the next useDestination()
        m_held.reset();
        return store.status;
    }
    m_store = std::move(store);
    return {};
}

// The names first, then their sizes asked side by side; what is gone meanwhile is left out.
DuplicateFinder::Store DuplicateFinder::readDestination(const HeldFolder& destination,
                                                        const PictureTypes& types) {
    Store store;
    store.status = forEachFileName(
        destination, [&types](std::string_view name) { return name.size() <= 255 && isPicture(name, types); },
        [&store](std::string_view name) {
            Listed listed;
            keepName(store.names, name, listed.known);
            store.listed.push_back(listed);
        });
    if (store.status) {
        store.status = sizesIn(
            destination, store.listed.size(), lookupThreads(),
            [&store](std::size_t i) { return nameIn(store.names, store.listed[i].known); },
            [&store](std::size_t i, std::optional<std::uint64_t> size) {
                store.listed[i].size = size.value_or(kGone);
            });
    }
    if (!store.status)
        return Store{{}, {}, store.status};
    std::erase_if(store.listed, [](const Listed& listed) { return listed.size == kGone; });
    // In place: a stable sort would want a second copy of every entry.
    std::sort(store.listed.begin(), store.listed.end(),
              [](const Listed& a, const Listed& b) { return a.size < b.size; });
    return store;
}

void DuplicateFinder::keepName(Names& names, std::string_view name, Known& known) {
    if (names.blocks.empty() || names.used + name.size() + 1 > kNameBlock) {
        names.blocks.push_back(std::make_unique<char[]>(kNameBlock));
        names.used = 0;
    }
    char* at = names.blocks.back().get() + names.used;
    std::memcpy(at, name.data(), name.size());
    at[name.size()] = '\0';
    known.nameAt = static_cast<std::uint32_t>((names.blocks.size() - 1) * kNameBlock + names.used);
    known.nameLength = static_cast<std::uint8_t>(name.size());
    names.used += name.size() + 1;
}

const char* DuplicateFinder::nameIn(const Names& names, const Known& known) {
    return names.blocks[known.nameAt / kNameBlock].get() + known.nameAt % kNameBlock;
}

std::string_view DuplicateFinder::nameOf(Twin twin) const {
    const Known& known = twin.added ? m_added[twin.index].known : m_store.listed[twin.index].known;
    return {nameIn(twin.added ? m_addedNames : m_store.names, known), known.nameLength};
}

std::vector<DuplicateFinder::Twin> DuplicateFinder::sameSize(std::uint64_t size) const {
    std::vector<Twin> twins;
    const auto first =
        std::lower_bound(m_store.listed.begin(), m_store.listed.end(), size,
                         [](const Listed& listed, std::uint64_t value) { return listed.size < value; });
    for (auto it = first; it != m_store.listed.end() && it->size == size; ++it)
        twins.push_back({false, static_cast<std::size_t>(it - m_store.listed.begin())});
    const auto [from, to] = m_addedBySize.equal_range(size);
    for (auto it = from; it != to; ++it)
        twins.push_back({true, it->second});
    return twins;
}

// A picture not moved yet is read in its folder, opened again from the source parent folder one
// name at a time; nothing to read from when that fails or no source parent folder is held.
DuplicateFinder::ReadAt DuplicateFinder::readAtOf(Twin twin) const {
    ReadAt at;
    const auto elsewhere = twin.added ? m_readElsewhere.find(twin.index) : m_readElsewhere.end();
    if (elsewhere == m_readElsewhere.end()) {
        at.held = &*m_held;
        at.name = std::string(nameOf(twin));
        return at;
    }
    at.elsewhere = &elsewhere->second;
    at.name = elsewhere->second.path.filename().native();
    if (m_sourceRoot) {
        Result<HeldFolder> folder = m_sourceRoot->below(elsewhere->second.path.parent_path());
        if (folder)
            at.opened = std::move(folder.value());
    }
    return at;
}

std::string DuplicateFinder::candidateName() const {
    return m_candidate.path.filename().native();
}

fs::path DuplicateFinder::pathOf(Twin twin) const {
    return joinPath(*m_folder, std::string(nameOf(twin)));
}

bool DuplicateFinder::pending(Twin twin) const {
    return twin.added && m_added[twin.index].known.nameLength == 0;
}

DuplicateFinder::Known& DuplicateFinder::knownOf(Twin twin) {
    return twin.added ? m_added[twin.index].known : m_store.listed[twin.index].known;
}

// A file no longer than the first block is hashed whole by the first hash.
bool DuplicateFinder::headOf(Twin twin) {
    Known& known = knownOf(twin);
    if (known.hasHead || known.unreadable)
        return known.hasHead;
    const std::uint64_t size = m_candidate.size;
    const ReadAt at = readAtOf(twin);
    const Result<std::uint64_t> head =
        at.folder() ? headHashOf(*at.folder(), at.name, size) : Result<std::uint64_t>(Error{});
    known.unreadable = !head;
    known.hasHead = head.ok();
    known.head = head.ok() ? head.value() : 0;
    known.hasWhole = head.ok() && size <= kHeadBytes;
    known.whole = known.head;
    return known.hasHead;
}

bool DuplicateFinder::wholeOf(Twin twin) {
    Known& known = knownOf(twin);
    if (known.hasWhole || known.unreadable)
        return known.hasWhole;
    const ReadAt at = readAtOf(twin);
    const Result<std::uint64_t> whole =
        at.folder() ? wholeHashOf(*at.folder(), at.name, m_candidate.size) : Result<std::uint64_t>(Error{});
    known.unreadable = !whole;
    known.hasWhole = whole.ok();
    known.whole = whole.ok() ? whole.value() : 0;
    return known.hasWhole;
}

bool DuplicateFinder::candidateHead() {
    Known& known = m_candidate.known;
    if (known.hasHead)
        return true;
    const Result<std::uint64_t> head = headHashOf(*m_candidateFolder, candidateName(), m_candidate.size);
    known.hasHead = head.ok();
    known.head = head.ok() ? head.value() : 0;
    known.hasWhole = head.ok() && m_candidate.size <= kHeadBytes;
    known.whole = known.head;
    return known.hasHead;
}

bool DuplicateFinder::candidateWhole() {
    Known& known = m_candidate.known;
    if (known.hasWhole)
        return true;
    const Result<std::uint64_t> whole = wholeHashOf(*m_candidateFolder, candidateName(), m_candidate.size);
    known.hasWhole = whole.ok();
    known.whole = whole.ok() ? whole.value() : 0;
    return known.hasWhole;
}

// A picture that cannot be looked up (gone, or a name its disk cannot hold) has no twin: the run
// meets it as it is.
std::optional<DuplicateFinder::Twin> DuplicateFinder::twinOf(const HeldFolder& folder,
                                                             const std::string& name) {
    m_candidate = {folder.pathOf(name), false, 0, {}};
    const Result<HeldEntry> entry = folder.lookup(name);
    if (!m_folder || !entry || entry.value().kind != HeldEntry::Kind::File)
        return std::nullopt;
    m_candidate.present = true;
    m_candidate.size = entry.value().identity.size;
    return twinOfCandidateIn(folder);
}

std::optional<DuplicateFinder::Twin> DuplicateFinder::twinOf(const Candidate& candidate,
                                                             const HeldFolder& folder) {
    if (!candidate.present)
        return twinOf(folder, candidate.path.filename().native());
    m_candidate = candidate;
    return m_folder ? twinOfCandidateIn(folder) : std::nullopt;
}

std::optional<DuplicateFinder::Twin> DuplicateFinder::twinOfCandidateIn(const HeldFolder& folder) {
    m_candidateFolder = &folder;
    const std::optional<Twin> twin = twinOfCandidate();
    m_candidateFolder = nullptr;
    return twin;
}

std::optional<DuplicateFinder::Twin> DuplicateFinder::twinOfCandidate() {
    std::vector<Twin> twins = sameSize(m_candidate.size);
    if (twins.empty() || !candidateHead())
        return std::nullopt;
    std::erase_if(
        twins, [this](Twin twin) { return !headOf(twin) || knownOf(twin).head != m_candidate.known.head; });
    return confirmed(twins);
}

// One file of the same first block is compared at once, which reads each of the two once; among
// several, the whole hashes (each file read once for it) pick the ones worth comparing.
std::optional<DuplicateFinder::Twin> DuplicateFinder::confirmed(const std::vector<Twin>& twins) {
    if (twins.size() == 1 && !knownOf(twins.front()).hasWhole && !m_candidate.known.hasWhole) {
        return compareWith(twins.front()) == Comparison::Equal ? std::optional(twins.front()) : std::nullopt;
    }
    if (twins.empty() || !candidateWhole())
        return std::nullopt;
    for (Twin twin : twins) {
        if (!wholeOf(twin) || knownOf(twin).whole != m_candidate.known.whole)
            continue;
        const Comparison compared = compareWith(twin);
        if (compared == Comparison::Equal)
            return twin;
        if (compared == Comparison::CandidateFailed)
            return std::nullopt;
    }
    return std::nullopt;
}

// A picture not moved yet counts only while it is the very file that was added.
DuplicateFinder::Comparison DuplicateFinder::compareWith(Twin twin) {
    const ReadAt at = readAtOf(twin);
    if (!at.folder()) {
        knownOf(twin).unreadable = true;
        return Comparison::Differ;
    }
    const fs::path other = at.folder()->pathOf(at.name);
    const std::string name = candidateName();
    const Result<ContentComparison> compared =
        compareContents({*m_candidateFolder, name}, {*at.folder(), at.name}, m_candidate.size);
    if (!compared) {
        if (compared.error().path != other)
            return Comparison::CandidateFailed;
        knownOf(twin).unreadable = true;
        return Comparison::Differ;
    }
    const FileStamp& read = compared.value().second;
    if (!compared.value().equal ||
        (at.elsewhere && (read.device != at.elsewhere->device || read.inode != at.elsewhere->inode)))
        return Comparison::Differ;
    m_matchStamps = {compared.value().first, compared.value().second};
    if (const std::optional<std::uint64_t> hash = compared.value().hash) {
        for (Known* known : {&m_candidate.known, &knownOf(twin)}) {
            known->whole = *hash;
            known->hasWhole = true;
        }
    }
    return Comparison::Equal;
}

void DuplicateFinder::add(const fs::path& source, const FileIdentity& picture, const fs::path& readable,
                          const fs::path& shown, bool pending) {
    if (!m_folder)
        return;
    Listed added;
    added.size = picture.size;
    if (m_candidate.path == source && m_candidate.size == picture.size)
        added.known = m_candidate.known;
    // A copy waiting for its name has none yet (a length of 0).
    added.known.nameLength = 0;
    if (!pending)
        keepName(m_addedNames, shown.filename().native(), added.known);
    const std::size_t index = m_added.size();
    m_addedBySize.emplace(added.size, index);
    if (pending)
        m_pendingBySource[source.native()] = index;
    if (pending || readable.native() != shown.native())
        m_readElsewhere.emplace(index, Elsewhere{readable, picture.device, picture.inode});
    m_added.push_back(added);
}

void DuplicateFinder::named(const fs::path& source, const fs::path& final) {
    const auto it = m_pendingBySource.find(source.native());
    if (it == m_pendingBySource.end())
        return;
    keepName(m_addedNames, final.filename().native(), m_added[it->second].known);
    m_readElsewhere.erase(it->second);
    m_pendingBySource.erase(it);
}

} // namespace corvalin
