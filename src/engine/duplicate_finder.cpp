#include "engine/duplicate_finder.h"

#include "platform/paths.h"
#include "platform/same_content.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
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
    m_store = {};
    m_listingElsewhere = false;
    m_added.clear();
    m_addedNames = {};
    m_addedBySize.clear();
    m_readElsewhere.clear();
    m_pendingBySource.clear();
    m_candidate = {};
}

Status DuplicateFinder::useDestination(const fs::path& destination, const PictureTypes& types) {
    if (m_folder && m_folder->native() == destination.native())
        return {};
    Store store = readDestination(destination, types);
    clear();
    if (!store.status)
        return store.status;
    m_store = std::move(store);
    m_folder = destination;
    return {};
}

void DuplicateFinder::expectListing(const fs::path& destination) {
    clear();
    m_folder = destination;
    m_listingElsewhere = true;
}

Status DuplicateFinder::adoptListing(DuplicateFinder&& other, const PictureTypes& types) {
    if (!m_listingElsewhere)
        return {};
    m_listingElsewhere = false;
    const bool read = other.m_folder && other.m_folder->native() == m_folder->native();
    Store store = read ? std::move(other.m_store) : readDestination(*m_folder, types);
    if (!store.status) {
        m_folder.reset(); // read again by the next useDestination()
        return store.status;
    }
    m_store = std::move(store);
    return {};
}

// The names first, then their sizes asked side by side; what is gone meanwhile is left out.
DuplicateFinder::Store DuplicateFinder::readDestination(const fs::path& destination,
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

fs::path DuplicateFinder::readPathOf(Twin twin) const {
    if (twin.added) {
        if (const auto elsewhere = m_readElsewhere.find(twin.index); elsewhere != m_readElsewhere.end())
            return elsewhere->second;
    }
    return pathOf(twin);
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
    const Result<std::uint64_t> head = headHashOf(readPathOf(twin), size);
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
    const Result<std::uint64_t> whole = wholeHashOf(readPathOf(twin), m_candidate.size);
    known.unreadable = !whole;
    known.hasWhole = whole.ok();
    known.whole = whole.ok() ? whole.value() : 0;
    return known.hasWhole;
}

bool DuplicateFinder::candidateHead() {
    Known& known = m_candidate.known;
    if (known.hasHead)
        return true;
    const Result<std::uint64_t> head = headHashOf(m_candidate.path, m_candidate.size);
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
    const Result<std::uint64_t> whole = wholeHashOf(m_candidate.path, m_candidate.size);
    known.hasWhole = whole.ok();
    known.whole = whole.ok() ? whole.value() : 0;
    return known.hasWhole;
}

std::optional<DuplicateFinder::Twin> DuplicateFinder::twinOf(const fs::path& source) {
    m_candidate = {source, false, 0, {}};
    struct stat info {};
    if (!m_folder || ::lstat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    m_candidate.present = true;
    m_candidate.size = static_cast<std::uint64_t>(info.st_size);
    return twinOfCandidate();
}

std::optional<DuplicateFinder::Twin> DuplicateFinder::twinOf(const Candidate& candidate) {
    if (!candidate.present)
        return twinOf(candidate.path);
    m_candidate = candidate;
    return m_folder ? twinOfCandidate() : std::nullopt;
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

DuplicateFinder::Comparison DuplicateFinder::compareWith(Twin twin) {
    const fs::path other = readPathOf(twin);
    const Result<ContentComparison> compared = compareContents(m_candidate.path, other, m_candidate.size);
    if (!compared) {
        if (compared.error().path != other)
            return Comparison::CandidateFailed;
        knownOf(twin).unreadable = true;
        return Comparison::Differ;
    }
    if (!compared.value().equal)
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

void DuplicateFinder::add(const fs::path& source, const fs::path& readable, const fs::path& shown,
                          bool pending) {
    if (!m_folder)
        return;
    Listed added;
    if (m_candidate.path == source) {
        added.size = m_candidate.size;
        added.known = m_candidate.known;
    } else {
        struct stat info {};
        if (::lstat(readable.c_str(), &info) != 0)
            return;
        added.size = static_cast<std::uint64_t>(info.st_size);
    }
    // A copy waiting for its name has none yet (a length of 0).
    added.known.nameLength = 0;
    if (!pending)
        keepName(m_addedNames, shown.filename().native(), added.known);
    const std::size_t index = m_added.size();
    m_addedBySize.emplace(added.size, index);
    if (pending)
        m_pendingBySource[source.native()] = index;
    if (pending || readable.native() != shown.native())
        m_readElsewhere.emplace(index, readable);
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
