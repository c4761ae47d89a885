#pragma once

#include <QStringList>

#include <map>
#include <string>

// What the console of a boot tells of Corvalin's journal around a cut: when each record was
// written and when a flush reached the disk for it (the flush model's lines, power_cut_agent.h).
namespace corvalin::test {

struct BootLog;

struct JournalFlushes {
    QStringList problems;
    QString where; // where the cut fell, in words
    // For each journal that recorded an action (by inode): the bytes its last flush that returned
    // before the cut covered.
    std::map<unsigned long, long long> covered;
    double longestWait = 0; // the longest a record waited for a flush to start, in seconds
};

// Reads the lines of `step` up to the cut. A record must not wait longer than `allowedWait`
// seconds for a flush that covers it (an fdatasync of its journal, or a syncfs of its file
// system) to begin, the cut included.
JournalFlushes readJournalFlushes(const BootLog& log, const std::string& step, double allowedWait);

// The journals' whole bytes the agent found after the cut (PC-WHOLE) against what the last flush
// before it covered: each record that flush covered must still be there.
QStringList checkCoveredRecords(const QStringList& lines, const std::map<unsigned long, long long>& covered);

} // namespace corvalin::test
