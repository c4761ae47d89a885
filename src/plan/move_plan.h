#pragma once

#include "app/module1.h"
#include "app/startup.h"
#include "engine/move_run.h"
#include "naming/picture_types.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvalin {

// Rows are kept small for trees of 100,000 files: paths are their raw bytes, and display text is
// made only when a row is shown.
struct PlanPicture {
    std::string from;    // the picture's path as it lies now
    std::string newName; // the name it receives in the destination
    std::int32_t serialNo = 0;
    std::uint64_t bytes = 0;
};

struct PlanRemoval {
    std::string path;
    std::uint64_t bytes = 0;
};

// A picture left out because the destination holds its bytes already, under `twin`.
struct PlanDuplicate {
    std::string path;
    std::string twin;
    std::uint64_t bytes = 0;
};

// A child folder the delete option removes, with what the run leaves in it and removes with it:
// hidden files and folders, links and other special files.
struct PlanFolder {
    std::string path;
    std::uint32_t hiddenItems = 0;
    std::uint64_t hiddenBytes = 0;
};

enum class ProblemKind : std::uint8_t {
    RunStops,         // the run would stop here: the error it would meet
    Unreadable,       // a folder that cannot be read
    NameTaken,        // a new name already taken in the destination: the picture takes a later number
    LeftOut,          // a link or another mounted file system, never entered
    DownloadArriving, // a download still arriving, or a folder kept for one: left as it is
    NameTooLong,      // a picture whose new name the destination cannot hold, or a folder kept for
                      // one: left as it is
    HiddenPicture,    // a hidden picture in a child folder: never moved; it goes with its folder or
                      // stays there
    InSourceParent,   // a picture lying directly in the source parent folder: never moved
    NotHeldByDisk     // a picture the destination's disk cannot hold (a character, the name's
                      // encoding, its size): left as it is
};

struct PlanProblem {
    ProblemKind kind = ProblemKind::RunStops;
    std::string path;
    std::string text; // what the user reads about it, UTF-8
};

// What a move run would do, made by the run's own code with every change recorded instead of done.
struct MovePlan {
    MoveOutcome outcome = MoveOutcome::Completed; // Failed: the run would stop at `error`
    std::optional<Error> error;
    std::filesystem::path source;
    std::filesystem::path destination;
    bool deleteFolders = false;
    bool permanent = false;
    bool skipDuplicates = false;
    PictureTypes pictureTypes;             // what the run took for pictures
    std::optional<bool> acrossFileSystems; // nothing when a folder cannot be looked at
    // What the destination's disk allows, found by the run's probe; nothing when it stopped before.
    std::optional<DiskProfile> destinationDisk;
    std::size_t childFolders = 0;
    std::vector<PlanPicture> pictures;
    std::vector<PlanRemoval> removals;
    std::vector<PlanDuplicate> duplicates;
    std::vector<PlanFolder> folders;
    std::vector<std::filesystem::path> downloadsLeft;
    std::vector<std::filesystem::path> foldersKeptForDownloads;
    std::vector<std::filesystem::path> namesTooLong;
    std::vector<NameLeft> namesRefusedByDisk; // names or sizes the destination's disk cannot hold
    std::vector<PlanProblem> problems;
    long numbersSkipped = 0; // held by the destination already, so passed over
    std::uint64_t pictureBytes = 0;
    std::uint64_t removalBytes = 0;
    std::uint64_t duplicateBytes = 0;
};

struct PlanRequest {
    std::filesystem::path source;
    std::filesystem::path destination;
    bool deleteFolders = false;
    bool permanent = false;
    PictureTypes pictureTypes = {};
    bool skipDuplicates = false;
};

// How a plan in progress reaches its window: events handled now and then, with the child folders
// and files counted so far, and a cancel.
struct PlanProgress {
    std::function<void(int folders, long files)> yield = [](int, long) {
    };
    std::function<bool()> cancelled = [] {
        return false;
    };
};

// The plan of a move run from `vars` as they stand (the counter is not changed, nothing on the
// disk is, except that an interrupted move in the destination is finished first, as a run's start
// does). A cancelled plan has the outcome Cancelled and no rows.
MovePlan makeMovePlan(const Module1& vars, const SettingsFiles& files, const PlanRequest& request,
                      const PlanProgress& progress = {});

} // namespace corvalin
