#pragma once

#include "app/counter_writer.h"
#include "app/startup.h"
#include "history/run_journal.h"
#include "platform/held_folder.h"
#include "platform/removal.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace corvalin {

// Every change a move run makes to the disk goes through here, so that the same run can act
// (DiskLayer) or only say what it would do (a plan's recorder). Reading the disk (the survey, the
// file lists, the look-ups, the download markers) stays in the run: a plan reads exactly what the
// run reads. Every entry is named by its folder, held open, and its name there.
class FileLayer {
public:
    virtual ~FileLayer() = default;
    // Before anything: can what the run removes below `source` go where it must (the Trash)?
    virtual Status checkRemovalUsable(const std::filesystem::path& source) = 0;
    // A destination met for the first time: what an interrupted move left there is finished.
    virtual Status prepareDestination(const HeldFolder& destination) = 0;
    // The counter file, before every file.
    virtual Status writeCounter(std::int32_t serialNo) = 0;
    // The folder the run works in from now on.
    virtual Status enterFolder(const HeldFolder& folder) = 0;
    // Moves the picture `name` of `from`, which the run found to be `picture`, to `newName` in `to`
    // without ever replacing (EEXIST when taken); once it has arrived, its owner may write it.
    virtual Status movePicture(std::int32_t serialNo, const HeldFolder& from, const std::string& name,
                               const HeldEntry& picture, const HeldFolder& to,
                               const std::string& newName) = 0;
    virtual Status removeFile(const HeldFolder& folder, const std::string& name) = 0;
    // A picture left out because `twin`, in the destination, holds the same bytes: removed as
    // other files are, its record naming the twin.
    virtual Status removeDuplicate(const HeldFolder& folder, const std::string& name,
                                   const std::filesystem::path& twin) = 0;
    // The child folder `name` of `parent`, still the folder `expected` that the survey saw, with
    // everything still in it, unless a download still arrives anywhere below it
    // (download_markers.h): then nothing goes, and the answer is false. The folder is read for it
    // once, at its removal, so that what arrived during the run is seen.
    virtual Result<bool> removeFolder(const HeldFolder& parent, const std::string& name,
                                      const FolderId& expected) = 0;
    // Asked between any two files and between a batch's steps: about once a second the journal goes
    // to the disk here, and the items waiting for the Trash go in right after.
    virtual Status keepPace() = 0;
    // At the run's every ending: every item that waits for the Trash gone in, after the flush that
    // puts its info file on the disk (or recorded as not gone, the first such failure returned).
    virtual Status settle() = 0;
    // The folders whose items for the Trash all stayed, since they were no longer the folders the
    // items were taken from, noted since the last call.
    virtual std::vector<FolderLeft> takeFoldersLeft() { return {}; }
};

// The layer that acts: the moves and removals themselves, each recorded in the journal first when
// there is one, and the record taken back when the action failed and changed nothing. With a
// journal, what goes to the Trash waits in its folder for the journal's next flush.
class DiskLayer : public FileLayer {
public:
    DiskLayer(SettingsFiles files, Removal removal);

    void setJournal(RunJournal* journal);
    const Removal& removal() const { return m_removal; }
    RunJournal* journal() const { return m_journal; }

    Status checkRemovalUsable(const std::filesystem::path& source) override;
    Status prepareDestination(const HeldFolder& destination) override;
    Status writeCounter(std::int32_t serialNo) override;
    Status enterFolder(const HeldFolder& folder) override;
    Status movePicture(std::int32_t serialNo, const HeldFolder& from, const std::string& name,
                       const HeldEntry& picture, const HeldFolder& to, const std::string& newName) override;
    Status removeFile(const HeldFolder& folder, const std::string& name) override;
    Status removeDuplicate(const HeldFolder& folder, const std::string& name,
                           const std::filesystem::path& twin) override;
    Result<bool> removeFolder(const HeldFolder& parent, const std::string& name,
                              const FolderId& expected) override;
    Status keepPace() override;
    Status settle() override;
    std::vector<FolderLeft> takeFoldersLeft() override;

private:
    Status afterRemoval(std::size_t line, Status removed, const HeldFolder& folder, const std::string& name,
                        bool isFolder);
    void takeBackRecord();

    CounterWriter m_counter;
    Removal m_removal;
    RunJournal* m_journal = nullptr;
    std::filesystem::path m_twin; // of the duplicate being removed, for its record
};

} // namespace corvalin
