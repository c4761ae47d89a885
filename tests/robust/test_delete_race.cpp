// The forced delete against a subfolder swapped for a link to a canary folder, over many rounds of
// varied trees. CORVALIN_RACE_ROUNDS (per case) and CORVALIN_RACE_SEED set a longer or a repeated
// run; the seed, the rounds and how often a swap fell inside a deletion are printed.
#include "child_process.h"
#include "robust_env.h"
#include "swap_race.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <random>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

// A tree whose swapped subfolder holds files, deeper folders, hidden names and links to the
// canary, with files around it on every level above.
QByteArrayList treeFor(std::mt19937_64& random, const std::string& swapped) {
    const auto upTo = [&](int most) {
        return int(random() % (most + 1));
    };
    QByteArrayList entries;
    QByteArray folder;
    for (const QByteArray& part : QByteArray::fromStdString(swapped).split('/')) {
        for (int i = upTo(4); i > 0; --i)
            entries << "f:" + folder + "f" + QByteArray::number(i) + ".jpg";
        folder += part;
        entries << "d:" + folder;
        folder += '/';
    }
    for (int d = upTo(3); d > 0; --d) {
        const QByteArray deeper = folder + "d" + QByteArray::number(d);
        entries << "d:" + deeper;
        for (int i = upTo(6); i > 0; --i)
            entries << "f:" + deeper + "/." + QByteArray::number(i) + ".jpg";
    }
    for (int i = upTo(12); i > 0; --i)
        entries << "f:" + folder + QByteArray::number(i) + ".txt";
    if (upTo(3) == 0)
        entries << "l:" + folder + "back>../../canary";
    return entries;
}

// Modes an unprivileged owner must force its way through: a read-only or a locked subfolder.
void lockSome(std::mt19937_64& random, const fs::path& stage, const std::string& swapped) {
    const fs::path sub = stage / swapped;
    if (random() % 2 && fs::exists(sub / "d1"))
        ::chmod((sub / "d1").c_str(), random() % 2 ? 0 : 0555);
    if (random() % 3 == 0)
        ::chmod(sub.c_str(), random() % 2 ? 0 : 0555);
}

struct RaceCase {
    std::string swapped;
    bool locked = false;
    long rounds = 0;
    std::uint64_t seed = 0;
};

// Runs the rounds; the canary's first harm ends them. Returns the problem, or nothing.
std::string runRace(const fs::path& root, const RaceCase& race) {
    SwapRace swapRace(root, race.swapped);
    std::mt19937_64 random(race.seed);
    for (long round = 0; round < race.rounds; ++round) {
        const QByteArrayList entries = treeFor(random, race.swapped);
        swapRace.runRound(entries, [&](const fs::path& stage) {
            if (race.locked)
                lockSome(random, stage, race.swapped);
        });
        if (!swapRace.canaryIntact())
            return "the canary was harmed in round " + std::to_string(round);
        if (round % 200 == 199)
            swapRace.emptyTrash();
    }
    const SwapRaceTotals& totals = swapRace.totals();
    std::printf("%s: %ld rounds, a swap inside %ld deletions, %ld deletions stopped by one (seed %llu)\n",
                race.swapped.c_str(), totals.rounds, totals.swapsDuringDeletion, totals.failedDeletions,
                static_cast<unsigned long long>(race.seed));
    std::fflush(stdout);
    return {};
}

} // namespace

class TestDeleteRace : public QObject {
    Q_OBJECT

private slots:
    void canarySurvivesEveryRound_data() {
        QTest::addColumn<QString>("swapped");
        QTest::addColumn<bool>("locked"); // as an unprivileged user, through locked folders
        QTest::newRow("subfolder of the top") << "sub" << false;
        QTest::newRow("subfolder three deep") << "a/b/sub" << false;
        QTest::newRow("unprivileged, locked folders") << "a/sub" << true;
    }
    void canarySurvivesEveryRound() {
        QFETCH(QString, swapped);
        QFETCH(bool, locked);
        const RaceCase race{swapped.toStdString(), locked,
                            long(numberFromEnvironment("CORVALIN_RACE_ROUNDS", 1000)),
                            seedFromEnvironment("CORVALIN_RACE_SEED")};
        // In memory where it can: the race is in the kernel's path walk, and the trees build faster.
        QTemporaryDir dir(fs::is_directory("/dev/shm") ? "/dev/shm/corvalin-race-XXXXXX" : QString());
        QVERIFY(dir.isValid());
        const fs::path root = dir.path().toStdString();
        if (!locked) {
            const std::string problem = runRace(root, race);
            QVERIFY2(problem.empty(), problem.c_str());
            return;
        }
        // Only an unprivileged owner meets the locks; root would pass through them.
        if (::geteuid() == 0)
            QCOMPARE(::chown(root.c_str(), 65534, 65534), 0);
        const int result = runInChild([&] {
            if (!dropPrivileges())
                return skipExit;
            const std::string problem = runRace(root, race);
            std::fprintf(stderr, "%s\n", problem.c_str());
            return problem.empty() ? 0 : 1;
        });
        if (result == skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
    }
};

QTEST_APPLESS_MAIN(TestDeleteRace)
#include "test_delete_race.moc"
