#include "engine/duplicate_finder.h"

#include "platform/paths.h"
#include "platform/same_content.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <system_error>
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
    m_prefetched = {}; // waits for a listing still being read
    m_added.clear();
    m_addedBySize.clear();
    m_readElsewhere.clear();
    m_pendingBySource.clear();
    m_candidate = {};
}

void DuplicateFinder::prefetch(const fs::path& destination, const PictureTypes& types) {
    if (m_folder && m_folder->native() == destination.native())
        return;
    try {
        m_prefetched = std::async(std::launch::async,
                                  [destination, types] { return readDestination(destination, types); });
        m_prefetchFolder = destination;
    } catch (const std::system_error&) {
        // No thread to be had: useDestination() reads the folder itself.
    }
}

Status DuplicateFinder::useDestination(const fs::path& destination, const PictureTypes& types) {
    if (m_folder && m_folder->native() == destination.native())
        return {};
    const bool prefetched = m_prefetched.valid() && m_prefetchFolder.native() == destination.native();
    Store store = prefetched ? m_prefetched.get() : readDestination(destination, types);
    clear();
    if (!store.status)
        return store.status;
    m_store = std::move(store);
    m_folder = destination;
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
            keepName(store, name, listed.known);
            store.listed.push_back(listed);
        });
    if (store.status) {
        store.status = sizesIn(
            destination, store.listed.size(), lookupThreads(),
            [&store](std::size_t i) { return nameIn(store, store.listed[i]); },
            [&store](std::size_t i, std::optional<std::uint64_t> size) {
                store.listed[i].size = size.value_or(kGone);
            });
    }
    if (!store.status)
        return Store{{}, {}, 0, store.status};
    std::erase_if(store.listed, [](const Listed& listed) { return listed.size == kGone; });
    // In place: a stable sort would want a second copy of every entry.
    std::sort(store.listed.begin(), store.listed.end(),
              [](const Listed& a, const Listed& b) { return a.size < b.size; });
    return store;
}

void DuplicateFinder::keepName(Store& store, std::string_view name, Known& known) {
    if (store.nameBlocks.empty() || store.nameBlockUsed + name.size() + 1 > kNameBlock) {
        store.nameBlocks.push_back(std::make_unique<char[]>(kNameBlock));
        store.nameBlockUsed = 0;
    }
    char* at = store.nameBlocks.back().get() + store.nameBlockUsed;
    std::memcpy(at, name.data(), name.size());
    at[name.size()] = '\0';
    known.nameAt =
        static_cast<std::uint32_t>((store.nameBlocks.size() - 1) * kNameBlock + store.nameBlockUsed);
    known.nameLength = static_cast<std::uint8_t>(name.size());
    store.nameBlockUsed += name.size() + 1;
}

const char* DuplicateFinder::nameIn(const Store& store, const Listed& listed) {
    return store.nameBlocks[listed.known.nameAt / kNameBlock].get() + listed.known.nameAt % kNameBlock;
}

std::string_view DuplicateFinder::nameOf(const Listed& listed) const {
    return {nameIn(m_store, listed), listed.known.nameLength};
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
    const Listed& listed = twin.added ? m_added[twin.index] : m_store.listed[twin.index];
    return joinPath(*m_folder, std::string(nameOf(listed)));
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
    m_candidate = {source, 0, {}};
    struct stat info {};
    if (!m_folder || ::lstat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    m_candidate.size = static_cast<std::uint64_t>(info.st_size);
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
        keepName(m_store, shown.filename().native(), added.known);
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
    keepName(m_store, final.filename().native(), m_added[it->second].known);
    m_readElsewhere.erase(it->second);
    m_pendingBySource.erase(it);
}

} // namespace corvalin
