#pragma once

#include "engine/duplicate_finder.h"
#include "engine/surveyed_folders.h"
#include "naming/picture_types.h"
#include "platform/same_content.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace corvalin {

// Decides ahead of the run, on a thread of its own, which of its pictures equal a picture the
// destination held when the run began: the listing, the first blocks and the comparisons happen
// while the run's thread moves the pictures before them. What the run itself puts into the
// destination is still compared by the run. The thread walks the run's folders in the run's order
// and stays at most a few thousand pictures ahead. It reads them as the run does: each folder opened
// below the held source parent folder as the survey saw it, the destination held.
class DuplicateLookahead {
public:
    struct Verdict {
        DuplicateFinder::Candidate picture;
        std::optional<std::filesystem::path> twin; // a picture the destination held
        FileStamp pictureStamp;                    // both as they were when found equal
        FileStamp twinStamp;
        std::size_t folder = 0; // the run's folder number
    };

    // Starts reading `destination` at once; throws std::system_error when no thread or no
    // descriptor can be had.
    DuplicateLookahead(const HeldFolder& destination, PictureTypes types);
    ~DuplicateLookahead();
    DuplicateLookahead(const DuplicateLookahead&) = delete;
    DuplicateLookahead& operator=(const DuplicateLookahead&) = delete;

    const std::filesystem::path& destination() const { return m_destination; }
    // The run's folders, in its order, once the survey has found them below `sourceParent`.
    void follow(const HeldFolder& sourceParent, std::vector<std::filesystem::path> folders,
                std::vector<SurveyedFolder> places);
    // The verdict on `source` in the run's folder number `folderIndex`, waited for if need be;
    // nothing when the thread never met it (it arrived later, or the thread stopped).
    std::optional<Verdict> verdictFor(const std::filesystem::path& source, std::size_t folderIndex);
    // Stops the thread and hands over its finder, with the destination as it read it.
    DuplicateFinder finish();

private:
    void work();
    bool decideFolder(std::size_t folder, SurveyedFolders& folders);
    bool waitForRoom();
    void stop();

    static HeldFolder held(const HeldFolder& folder);

    const HeldFolder m_heldDestination;
    const std::filesystem::path m_destination;
    const PictureTypes m_types;
    DuplicateFinder m_finder; // the thread's alone until finish()
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::vector<std::filesystem::path>> m_folders;
    std::vector<SurveyedFolder> m_places;
    std::optional<HeldFolder> m_sourceParent;
    std::unordered_map<std::string, Verdict> m_verdicts;
    std::size_t m_foldersDone = 0;
    std::size_t m_folderAsked = 0; // verdicts on earlier folders are never asked for again
    bool m_runWaiting = false;     // then the thread goes on, however far ahead it is
    std::size_t m_decided = 0;     // verdicts given so far
    std::size_t m_wakeAt = 0;      // the count at which a waiting run is woken
    std::atomic<bool> m_stopping = false;
    bool m_ended = false;
    std::thread m_thread; // last: started once everything it uses is there
};

} // namespace corvalin
