#pragma once

#include "app/module1.h"
#include "app/startup.h"
#include "engine/cross_device_moves.h"
#include "engine/destination_disk.h"
#include "engine/duplicate_finder.h"
#include "engine/duplicate_lookahead.h"
#include "engine/file_layer.h"
#include "engine/folder_survey.h"
#include "engine/serial_numbering.h"
#include "engine/surveyed_folders.h"
#include "history/run_journal.h"
#include "naming/picture_types.h"
#include "platform/removal.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvalin {

// What the move-and-number run tells its window and asks of it. The survey's yield, start and stop
// are inherited. Display hooks have empty defaults, so a run without a window overrides nothing
// but the questions.
class MoveRunObserver : public SurveyObserver {
public:
    // Survey display, once per surveyed folder: the folder is shown in the source pane, then the
    // counts so far.
    virtual void surveyFolderShown(const std::filesystem::path& /*folder*/) {}
    virtual void surveyCountsShown(int /*foldersWithFiles*/, int /*folderCount*/, long /*totalFiles*/) {}
    // The survey display is over; the source pane shows the source parent folder again.
    virtual void surveyFinished(const std::filesystem::path& /*sourceParent*/) {}

    // A yield where only the window's display has to keep up: between the files of one folder and
    // between the folders of the survey display, which test no cancel. A window may let some pass
    // for speed. Every other yield point (the survey, each folder of the move and of the deletion)
    // is `yield`, where a click must be seen at once.
    virtual void yieldForDisplay() { yield(); }
    // A cancel was clicked. Asked once before each folder, never within one.
    virtual bool cancelRequested() = 0;
    // The folder about to be emptied.
    virtual void folderStarted(const std::filesystem::path& /*folder*/) {}
    virtual void fileProgress(long /*remaining*/, long /*total*/) {}
    // The file in hand, before anything is done to it.
    virtual void previewRequested(const std::filesystem::path& /*file*/) {}
    // The file in hand has left its folder: moved on its file system, or deleted for good. One bound
    // for the Trash or for another file system leaves later, and is not told here.
    virtual void fileLeft() {}
    // The name the picture in hand receives, before it is moved.
    virtual void newNameChosen(const std::string& /*name*/) {}
    // The picture in hand holds the bytes of `twin` in the destination: it is removed, not moved,
    // and takes no number.
    virtual void duplicateFound(const std::filesystem::path& /*file*/,
                                const std::filesystem::path& /*twin*/) {}
    // Where the next picture goes; asked afresh for every picture.
    virtual std::filesystem::path destination() = 0;
    // Files whose names read as pictures of a type not chosen (unchosenPictureEnding) are to be
    // deleted for good: asked once, after the survey display and before anything is touched, with
    // how many there are of each ending. False ends the run there, as a cancel does.
    virtual bool deleteUnchosenPictures(const std::map<std::string, std::size_t>& /*byEnding*/) {
        return true;
    }
    // The folder's files are all handled.
    virtual void folderFinished(const std::filesystem::path& /*folder*/) {}
    // Every folder is emptied; the source pane goes back to the source parent folder, before the
    // child folders are deleted.
    virtual void returnedToSourceParent(const std::filesystem::path& /*sourceParent*/) {}
};

enum class MoveOutcome {
    Completed,
    Cancelled, // by the cancel button, or by closing the window
    Failed     // an operation failed: the run stopped there and ended as a cancel does
};

// A picture left in its folder, with why, for the user.
struct NameLeft {
    std::filesystem::path file;
    std::string reason;
};

struct MoveRunResult {
    MoveOutcome outcome = MoveOutcome::Completed;
    std::optional<Error> error; // set when Failed
    int foldersWithFiles = 0;   // surveyed folders that held at least one file
    // Files left where they were because their download was still arriving, in the order met, and
    // the child folders the deletion kept because they still hold a download marker
    // (describeDownloadsLeft words them for the user).
    std::vector<std::filesystem::path> downloadsLeft;
    std::vector<std::filesystem::path> foldersKeptForDownloads;
    // Pictures left where they were because their new name would be longer than the destination's
    // file system takes, and the child folders kept for them (describeLongNamesLeft words them).
    std::vector<std::filesystem::path> namesTooLong;
    std::vector<std::filesystem::path> foldersKeptForLongNames;
    std::size_t longestName = 255; // the destination's limit, in bytes
    // Pictures left the same way because the destination's disk cannot hold their name or size
    // (characters FAT or NTFS refuse, a name that is not UTF-8 where names are UTF-16, 4 GB on FAT),
    // each with the reason; their child folders are kept with those for long names.
    std::vector<NameLeft> namesRefusedByDisk;
    // FIFOs, sockets and devices named like pictures in the folders emptied, and pictures that
    // were no regular file any more when their turn came: never moved.
    std::vector<std::filesystem::path> specialFiles;
    int foldersRemoved = 0; // child folders removed after the move
    // Numbers passed over because the destination held them already, or a name with them was
    // found taken.
    long numbersSkipped = 0;
    // Folders that were no longer the ones surveyed when the run came to them, left as they were
    // with everything in them (describeChangedFolders words them).
    std::vector<ChangedFolder> changedFolders;
    // What the destination's disk allows, as the run's start found it; nothing when the run
    // stopped before.
    std::optional<DiskProfile> destinationDisk;
};

// What a failure to move a picture into the destination was doing, as messages name it.
extern const char* const kMoveIntoText;
// What a failure to take a picture out of its folder was doing.
extern const char* const kMoveOutOfText;

// Refuses a source parent folder whose emptying would destroy what the user never meant to give
// up: the root folder, the home folder or a folder above it, and a folder holding this program, its
// settings files or its run journals (they would be removed as files that are not pictures).
Status checkSource(const std::filesystem::path& sourceParent, const SettingsFiles& files);

// Refuses a destination that is no folder, or that is the source parent folder or lies below it
// (symbolic links resolved): its pictures would be numbered again and, with the delete option,
// deleted. Refuses one this user may not write into (read-only, no permission) too.
Status checkDestination(const std::filesystem::path& sourceParent, const std::filesystem::path& destination);
// The same for the destination as it is held, whatever its path names by now: the folder the run
// will put its pictures in is never the source parent folder, held, nor below it.
Status checkHeldDestination(const HeldFolder& source, const HeldFolder& destination);

// The start record of a move run's journal, the same for the window and the command line.
RunStart moveRunStart(std::int32_t serialNo, const std::filesystem::path& sourceParent,
                      const std::filesystem::path& destination, bool deleteFolders, const Removal& removal);

// The outcome a journal records for a run that ended so (kOutcomeCompleted, ...).
const char* journalOutcome(MoveOutcome outcome);

// The whole run after its start: survey, survey display, the move folder by folder, and the
// deletion of the child folders when `deleteFolders` is on. `folderList` receives the survey; the
// caller empties it at the end. SerialNo in `vars` follows every picture, and the counter file is
// rewritten before every file. Nothing is ever replaced in the destination. What is not a picture,
// and the child folders, go as `removal` says (to the Trash unless told otherwise); the run refuses
// to start when the Trash it needs cannot be used. Downloads still arriving (download_markers.h) are
// left alone, and so are the child folders that hold them; so is a picture whose new name would be
// too long for the destination, and its child folder. Pictures bound for another file system
// are copied in batches of at most a folder, and each takes its number when its copy is named.
// No picture takes a number its destination already holds (serial_numbering.h): a destination
// without a free number for every picture is refused before anything is touched.
class MoveRun : private CopyNaming {
public:
    MoveRun(Module1& vars, SettingsFiles files, MoveRunObserver& observer, Removal removal = Removal());

    // Every move and removal is recorded here before it takes effect, and the records are put on
    // the disk about once a second as the run goes, what goes to the Trash waiting in its folder
    // until then. Without a journal the run keeps no record (benchmarks).
    void setJournal(RunJournal* journal);
    // Every change goes through `layer` instead of the disk (a plan records them); it must outlive
    // the run.
    void setFileLayer(FileLayer& layer) { m_layer = &layer; }
    // The formats moved beside JPEG and BMP; the rest of the files are removed.
    void setPictureTypes(const PictureTypes& types) { m_pictureTypes = types; }

    // A picture whose bytes the destination already holds (or a picture this run put there) is
    // removed as other files are instead of being moved.
    void setSkipDuplicates(bool skip);

    // How pictures bound for another file system are batched (benchmarks compare a batch of one).
    void setBatchSettings(BatchSettings settings) { m_crossDeviceMoves.setSettings(settings); }

    MoveRunResult run(const std::filesystem::path& sourceParent, bool deleteFolders,
                      std::vector<std::filesystem::path>& folderList);

    // After run(), while `folderList` lives: the source parent folder as the run held it, and the
    // folders it surveyed below it, opened again as the run opens them (a plan reads them so).
    // Nothing when the run never held its source, or never began its survey.
    const HeldFolder* heldSource() const { return m_source ? &*m_source : nullptr; }
    SurveyedFolders* surveyedFolders() { return m_folders ? &*m_folders : nullptr; }

private:
    Status survey(std::vector<std::filesystem::path>& folderList);
    Status surveyDisplay(const std::vector<std::filesystem::path>& folderList);
    Status moveFolder(std::size_t index, const std::filesystem::path& folder);
    Status handleFile(const HeldFolder& folder, const std::string& name, bool arriving);
    Status movePicture(const HeldFolder& folder, const std::string& name, const HeldEntry& picture);
    Result<bool> leaveOutDuplicate(const HeldFolder& folder, const std::string& name,
                                   const HeldEntry& picture, const std::filesystem::path& destination);
    bool comparedHeldFiles(const HeldEntry& picture, const std::pair<FileStamp, FileStamp>& compared,
                           const std::filesystem::path& twin, bool twinToo) const;
    void startLookahead();
    std::optional<DuplicateLookahead::Verdict> lookedAhead(const std::filesystem::path& source,
                                                           const std::filesystem::path& destination);
    Status endLookahead();
    std::optional<std::filesystem::path> heldTwinOf(DuplicateLookahead::Verdict& verdict,
                                                    const HeldFolder& folder, const std::string& name) const;
    void noteMoved(const std::filesystem::path& source, const FileIdentity& picture,
                   const std::filesystem::path& target, bool pending);
    Status removed(Status status);
    Error moveFailure(const Status& moved, const std::filesystem::path& destination,
                      std::uint64_t pictureSize) const;
    Status commitCopies(Status status);
    Status commitCarriedCopies();
    Result<std::filesystem::path> finalPathFor(const std::filesystem::path& source,
                                               const FileIdentity& copied, bool taken) override;
    void copyNamed(const std::filesystem::path& source) override;
    void copyWithdrawn(const std::filesystem::path& source) override;
    Status keepPace() override;
    bool namingStopped() override;
    Status recordsOnDisk() override;
    std::int32_t numberInHand() const;
    Status skipHeldNumbers(const std::filesystem::path& destination);
    void planBatchNumber(const std::filesystem::path& destination);
    void countUnchosenPictures(const std::vector<std::string>& names);
    void showNewName(const std::filesystem::path& source, std::string name);
    Status useDestination(const std::filesystem::path& destination);
    bool copiesWithinDisk() const;
    bool leftForTheDisk(const std::filesystem::path& source, const std::string& newName,
                        const HeldEntry& picture);
    Status deleteChildFolders(const std::vector<std::filesystem::path>& folderList);
    MoveRunResult finish(MoveOutcome outcome, std::optional<Error> error = {});

    Module1& m_vars;
    SettingsFiles m_files;
    MoveRunObserver& m_observer;
    DiskLayer m_disk;
    FileLayer* m_layer = &m_disk;
    PictureTypes m_pictureTypes;
    std::filesystem::path m_sourceParent;
    // The source parent folder, every folder the survey saw below it, and the destination the run
    // met last, held: the run reaches each file by its name in one of them, never by a path.
    std::optional<HeldFolder> m_source;
    std::vector<SurveyedFolder> m_places;
    std::optional<SurveyedFolders> m_folders;
    std::optional<std::filesystem::path> m_checkedDestination;
    std::optional<HeldFolder> m_destination;
    int m_foldersWithFiles = 0;
    long m_totalFiles = 0;
    long m_picturesFound = 0; // by the survey display
    long m_picturesHandled = 0;
    SerialNumbering m_numbering;
    std::int32_t m_numberAfterBatch = 0; // what the next picture takes while copies wait in a batch
    std::map<std::string, std::size_t> m_unchosenPictures; // by ending, when the run deletes for good
    long m_remainingFiles = 0;
    bool m_stopped = false;
    CrossDeviceMoves m_crossDeviceMoves{*this};
    std::optional<DuplicateFinder> m_duplicates; // when duplicates are left out
    std::unique_ptr<DuplicateLookahead> m_lookahead;
    std::size_t m_folderIndex = 0;        // of the folder being emptied, in the survey's list
    std::filesystem::path m_copyTarget;   // the final path of the copy being named
    std::int32_t m_namingAttempts = 0;    // names found taken for the copy being named
    std::filesystem::path m_nameShownFor; // the picture whose new name the window shows
    std::string m_nameShown;
    std::vector<std::filesystem::path> m_downloadsLeft;
    std::vector<std::filesystem::path> m_foldersKeptForDownloads;
    std::optional<DiskProfile> m_destinationDisk; // of the checked destination
    std::size_t m_longestName = 255;              // of the checked destination's file system
    std::vector<std::filesystem::path> m_namesTooLong;
    std::vector<NameLeft> m_namesRefusedByDisk;
    std::unordered_set<std::string> m_foldersHoldingLongNames;
    std::vector<std::filesystem::path> m_foldersKeptForLongNames;
    std::vector<std::filesystem::path> m_specialFiles;
    int m_foldersRemoved = 0;
    // The journal's line of each copy of the batch being named.
    std::unordered_map<std::string, std::size_t> m_copyRecords;
    // The size of each picture in the batch, by its path: a failure's message weighs it against the
    // room left on the destination's disk.
    std::unordered_map<std::string, std::uint64_t> m_copySizes;
};

} // namespace corvalin
