#pragma once

#include "app/counter_writer.h"
#include "app/startup.h"
#include "history/run_journal.h"
#include "platform/removal.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>

namespace corvalin {

// Every change a move run makes to the disk goes through here, so that the same run can act
// (DiskLayer) or only say what it would do (a plan's recorder). Reading the disk (the survey, the
// file lists, the download markers) stays in the run: a plan reads exactly what the run reads.
class FileLayer {
public:
    virtual ~FileLayer() = default;
    // Before anything: can what the run removes below `source` go where it must (the Trash)?
    virtual Status checkRemovalUsable(const std::filesystem::path& source) = 0;
    // A destination met for the first time: what an interrupted move left there is finished.
    virtual Status prepareDestination(const std::filesystem::path& destination) = 0;
    // The counter file, before every file.
    virtual Status writeCounter(std::int32_t serialNo) = 0;
    // The folder the run works in from now on.
    virtual Status enterFolder(const std::filesystem::path& folder) = 0;
    // Gives a picture that arrived in the destination its owner's write permission.
    virtual Status makeWritable(const std::filesystem::path& file) = 0;
    // Moves a picture under its serial-numbered name without ever replacing: EEXIST when taken.
    virtual Status movePicture(std::int32_t serialNo, const std::filesystem::path& from,
                               const std::filesystem::path& to) = 0;
    virtual Status removeFile(const std::filesystem::path& file) = 0;
    // A picture left out because `twin`, in the destination, holds the same bytes: removed as
    // other files are, its record naming the twin.
    virtual Status removeDuplicate(const std::filesystem::path& file, const std::filesystem::path& twin) = 0;
    // A child folder with everything still in it, unless a download still arrives anywhere below
    // it (download_markers.h): then nothing goes, and the answer is false. The folder is read for
    // it once, at its removal, so that what arrived during the run is seen.
    virtual Result<bool> removeFolder(const std::filesystem::path& folder) = 0;
    // Asked between any two files and between a batch's steps: about once a second the journal goes
    // to the disk here, and the items waiting for the Trash go in right after.
    virtual Status keepPace() = 0;
    // At the run's every ending: every item that waits for the Trash gone in, after the flush that
    // puts its info file on the disk (or recorded as not gone, the first such failure returned).
    virtual Status settle() = 0;
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
    Status prepareDestination(const std::filesystem::path& destination) override;
    Status writeCounter(std::int32_t serialNo) override;
    Status enterFolder(const std::filesystem::path& folder) override;
    Status makeWritable(const std::filesystem::path& file) override;
    Status movePicture(std::int32_t serialNo, const std::filesystem::path& from,
                       const std::filesystem::path& to) override;
    Status removeFile(const std::filesystem::path& file) override;
    Status removeDuplicate(const std::filesystem::path& file, const std::filesystem::path& twin) override;
    Result<bool> removeFolder(const std::filesystem::path& folder) override;
    Status keepPace() override;
    Status settle() override;

private:
    Status afterRemoval(std::size_t line, Status removed, const std::filesystem::path& item, bool folder);
    void takeBackRecord();

    CounterWriter m_counter;
    Removal m_removal;
    RunJournal* m_journal = nullptr;
    std::filesystem::path m_twin; // of the duplicate being removed, for its record
};

} // namespace corvalin
