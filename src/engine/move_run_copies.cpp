#include "engine/move_run.h"

#include "naming/serial_name.h"
#include "platform/paths.h"

#include <cerrno>

// The naming of copies made across file systems, as their batch names them one by one.
namespace corvalin {

namespace fs = std::filesystem;

// A copy takes its serial number when it is named, as a picture moved within its file system does
// when it is renamed: the counter file rewritten and the move recorded first. A number the
// destination holds is passed over, and a taken name takes the next number.
Result<fs::path> MoveRun::finalPathFor(const fs::path& source, const FileIdentity& copied, bool taken) {
    const fs::path destination = m_crossDeviceMoves.destination();
    m_namingAttempts = taken ? m_namingAttempts + 1 : 0;
    if (m_namingAttempts > kHighestSerialNo)
        return errorFromErrno(kMoveIntoText, destination, EEXIST);
    const std::int32_t tried = wrapSerialNo(m_vars.SerialNo);
    if (taken)
        m_numbering.hold(destination, tried);
    m_vars.SerialNo = m_numbering.freeFrom(destination, taken ? wrapSerialNo(tried + 1) : tried);
    m_numbering.skipped(tried, m_vars.SerialNo);
    if (Status counted = m_layer->writeCounter(m_vars.SerialNo); !counted)
        return counted.error();
    const fs::path target = joinPath(destination, serialName(m_vars.SerialNo, source.filename().native()));
    if (RunJournal* journal = m_disk.journal()) {
        if (taken) // the name found taken never held this picture
            copyWithdrawn(source);
        const std::size_t line = journal->nextLine();
        if (Status recorded = journal->recordMove(m_vars.SerialNo, source, target, copied); !recorded)
            return recorded.error();
        m_copyRecords[source.native()] = line;
    }
    // A name found taken in the batch moves the numbers of the copies after it.
    if (source == m_nameShownFor && target.filename().native() != m_nameShown)
        showNewName(source, target.filename().native());
    m_copyTarget = target;
    return target;
}

void MoveRun::copyWithdrawn(const fs::path& source) {
    const auto record = m_copyRecords.find(source.native());
    if (record == m_copyRecords.end())
        return;
    // A journal that cannot take this fails again at its next record, and the run stops there.
    (void)m_disk.journal()->recordNotDone(record->second);
    m_copyRecords.erase(record);
}

// Between the copies of a commit, which on a slow network mount or stick may take long: the window
// keeps painting and sees its close, which leaves the copies not yet named.
Status MoveRun::keepPace() {
    m_observer.yieldForDisplay();
    return m_layer->keepPace();
}

bool MoveRun::namingStopped() {
    if (m_observer.stopRequested())
        m_stopped = true;
    return m_stopped;
}

// One flush a batch: its copies' moves are then on the disk before their sources' last trace goes.
Status MoveRun::recordsOnDisk() {
    RunJournal* journal = m_disk.journal();
    return journal ? journal->flushRecords() : Status();
}

void MoveRun::copyNamed(const fs::path& source) {
    m_numbering.hold(m_crossDeviceMoves.destination(), m_vars.SerialNo);
    ++m_vars.SerialNo;
    if (m_duplicates)
        m_duplicates->named(source, m_copyTarget);
}

void MoveRun::showNewName(const fs::path& source, std::string name) {
    m_nameShownFor = source;
    m_nameShown = std::move(name);
    m_observer.newNameChosen(m_nameShown);
}

} // namespace corvalin
