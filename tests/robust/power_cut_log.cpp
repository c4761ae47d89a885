#include "power_cut_log.h"

#include "power_cut_machine.h"

#include <algorithm>
#include <optional>
#include <set>

namespace corvalin::test {

namespace {

// One line of the flush model: "PC-RECORD time device inode size tag" or
// "PC-FLUSHING|PC-FLUSHED time kind device inode size".
struct LogLine {
    QString what;
    double time = 0;
    QString kind; // of a flush
    QString tag;  // of a record
    unsigned long device = 0;
    unsigned long inode = 0;
    long long size = 0;
};

std::optional<LogLine> parse(const QString& text) {
    const QStringList words = text.split(' ');
    const bool record = words[0] == "PC-RECORD";
    if ((!record && words[0] != "PC-FLUSHING" && words[0] != "PC-FLUSHED") || words.size() != 6)
        return std::nullopt;
    LogLine line;
    line.what = words[0];
    line.time = words[1].toDouble();
    const int at = record ? 2 : 3;
    line.device = words[at].toULong();
    line.inode = words[at + 1].toULong();
    line.size = words[at + 2].toLongLong();
    (record ? line.tag : line.kind) = words[record ? 5 : 2];
    return line;
}

struct Journal {
    unsigned long device = 0;
    bool acted = false;                    // a journal that records no action goes at its run's end
    long long size = 0;                    // after its last record
    std::optional<double> waitingSince;    // its oldest record no flush has begun for yet
    std::optional<long long> beingFlushed; // the bytes a flush now going on covers
};

bool covers(const LogLine& flush, unsigned long inode, const Journal& journal) {
    if (flush.kind == "syncfs" || flush.kind == "sync")
        return flush.kind == "sync" || flush.device == journal.device;
    return (flush.kind == "fdatasync" || flush.kind == "fsync") && flush.inode == inode &&
           flush.device == journal.device;
}

// The lines of `step`'s run: from its start to its end, or to the cut.
std::pair<int, int> stepLines(const QStringList& lines, const std::string& step) {
    const QString name = QString::fromStdString(step);
    const int first = int(lines.indexOf("PC-START " + name));
    if (first < 0)
        return {0, 0};
    const int end = int(lines.indexOf("PC-END " + name, first));
    return {first, end < 0 ? int(lines.size()) : end};
}

} // namespace

JournalFlushes readJournalFlushes(const BootLog& log, const std::string& step, double allowedWait) {
    JournalFlushes found;
    const auto [first, end] = stepLines(log.lines, step);
    std::map<unsigned long, Journal> journals;
    std::optional<double> cutTime; // in the guest's time
    QStringList phases;
    QString lastTag;
    double lastRecord = 0;
    const auto waited = [&](Journal& journal, double until) {
        if (journal.waitingSince)
            found.longestWait = std::max(found.longestWait, until - *journal.waitingSince);
        journal.waitingSince.reset();
    };
    for (int i = first; i < end; ++i) {
        if (log.lines[i].startsWith("PC-PHASE "))
            phases << log.lines[i].section(' ', 1, 1);
        const std::optional<LogLine> line = parse(log.lines[i]);
        if (!line)
            continue;
        if (log.cut)
            cutTime = line->time + (log.cutAt - log.arrived[std::size_t(i)]);
        if (line->what == "PC-RECORD") {
            Journal& journal = journals[line->inode];
            journal.device = line->device;
            journal.size = line->size;
            journal.waitingSince = journal.waitingSince.value_or(line->time);
            journal.acted = journal.acted || line->tag == "move" || line->tag == "trash" ||
                            line->tag == "delete" || line->tag == "rename" || line->tag == "mkdir";
            lastTag = line->tag;
            lastRecord = line->time;
            continue;
        }
        for (auto& [inode, journal] : journals) {
            if (!covers(*line, inode, journal))
                continue;
            if (line->what == "PC-FLUSHING") {
                waited(journal, line->time);
                journal.beingFlushed = line->kind == "fdatasync" ? line->size : journal.size;
            } else if (journal.beingFlushed) {
                if (journal.acted)
                    found.covered[inode] = *journal.beingFlushed;
                journal.beingFlushed.reset();
            }
        }
    }
    if (cutTime) {
        for (auto& [inode, journal] : journals)
            waited(journal, *cutTime);
        found.where =
            QString("phases seen before it: %1; the last record (%2) %3 s before it")
                .arg(phases.isEmpty() ? "none" : phases.join(", "), lastTag.isEmpty() ? "none" : lastTag)
                .arg(*cutTime - lastRecord, 0, 'f', 2);
    }
    if (found.longestWait > allowedWait)
        found.problems << QString("a journal record waited %1 s for a flush in \"%2\" (at most %3 s allowed)")
                              .arg(found.longestWait, 0, 'f', 2)
                              .arg(QString::fromStdString(step))
                              .arg(allowedWait, 0, 'f', 2);
    return found;
}

QStringList checkCoveredRecords(const QStringList& lines, const std::map<unsigned long, long long>& covered) {
    std::map<unsigned long, long long> whole;
    for (const QString& line : lines) {
        if (line.startsWith("PC-WHOLE "))
            whole[line.section(' ', 1, 1).toULong()] = line.section(' ', 2, 2).toLongLong();
    }
    QStringList problems;
    for (const auto& [inode, bytes] : covered) {
        const auto after = whole.find(inode);
        if (after == whole.end())
            problems << QString(
                            "the journal (inode %1) flushed with %2 bytes before the cut is gone after it")
                            .arg(inode)
                            .arg(bytes);
        else if (after->second < bytes)
            problems << QString("the journal (inode %1) flushed with %2 bytes before the cut holds only %3 "
                                "whole bytes after it")
                            .arg(inode)
                            .arg(bytes)
                            .arg(after->second);
    }
    return problems;
}

} // namespace corvalin::test
