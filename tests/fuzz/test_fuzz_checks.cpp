// The fuzz checks without libFuzzer: every corpus entry, then a bounded number of seeded random
// mutations of them. CORVALIN_FUZZ_RUNS (per target) and CORVALIN_FUZZ_SEED set a longer or
// another run; the seed is printed, so a failure can be repeated.
#include "fuzz_checks.h"
#include "seeded_mutator.h"

#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace corvalin::fuzz;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> readCorpus(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end()); // the seeded run must not depend on the listing order
    std::vector<std::string> corpus;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return corpus;
}

// The input in a buffer of exactly its size, so that AddressSanitizer sees any read past its end.
std::string runCheck(const Target& target, const std::string& input) {
    const auto exact = std::make_unique<char[]>(input.size());
    std::copy(input.begin(), input.end(), exact.get());
    return target.check({exact.get(), input.size()});
}

QString escaped(const std::string& input) {
    QString text;
    for (const char c : input) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte >= 0x20 && byte < 0x7f && c != '\\' ? QString(QChar(c))
                                                         : QString("\\x%1").arg(byte, 2, 16, QChar('0'));
    }
    return text;
}

qulonglong fromEnvironment(const char* name, qulonglong fallback) {
    bool ok = false;
    const qulonglong value = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? value : fallback;
}

} // namespace

class TestFuzzChecks : public QObject {
    Q_OBJECT

private slots:
    void anyInputKeepsTheRules_data() {
        QTest::addColumn<QString>("name");
        for (const Target& target : allTargets())
            QTest::newRow(target.name) << QString(target.name);
    }
    void anyInputKeepsTheRules() {
        QFETCH(QString, name);
        const Target& target = *findTarget(name.toStdString());
        const std::vector<std::string> corpus = readCorpus(fs::path(CORVALIN_FUZZ_CORPUS) / target.name);
        QVERIFY2(!corpus.empty(), "no corpus");
        const qulonglong runs = fromEnvironment("CORVALIN_FUZZ_RUNS", 20000);
        const qulonglong seed = fromEnvironment("CORVALIN_FUZZ_SEED", 1);
        qInfo("%s: %zu corpus inputs, %llu generated, seed %llu", target.name, corpus.size(), runs, seed);

        SeededMutator mutator(seed, corpus, target.tokens);
        for (qulonglong i = 0; i < corpus.size() + runs; ++i) {
            const std::string input = i < corpus.size() ? corpus[i] : mutator.next();
            const std::string problems = runCheck(target, input);
            QVERIFY2(problems.empty(), qPrintable(QString("input %1 \"%2\":\n%3")
                                                      .arg(i)
                                                      .arg(escaped(input))
                                                      .arg(QString::fromStdString(problems))));
        }
    }
};

QTEST_APPLESS_MAIN(TestFuzzChecks)
#include "test_fuzz_checks.moc"
