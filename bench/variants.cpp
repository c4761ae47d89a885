#include "variants.h"

#include "app/message_box.h"
#include "app/ui/form1.h"
#include "engine/serial_name.h"
#include "engine/ui/move_controller.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace corvalin::bench {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A benchmark has nobody to answer a message: it is printed and the run counts as failed.
class PrintedMessages : public MessageBox {
public:
    int shown = 0;
    MessageAnswer show(const std::string& text, MessageButtons, MessageIcon) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        ++shown;
        return MessageAnswer::Ok;
    }
};

class SilentObserver : public MoveRunObserver {
public:
    explicit SilentObserver(fs::path destination) : m_destination(std::move(destination)) {}
    void yield() override {}
    void surveyStarted() override {}
    bool stopRequested() override { return false; }
    bool cancelRequested() override { return false; }
    fs::path destination() override { return m_destination; }

private:
    fs::path m_destination;
};

// The offscreen platform warns about what it cannot do with windows; only real trouble is printed.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

SettingsFiles settingsIn(const fs::path& work) {
    return {work / "prog", work / "prog"};
}

} // namespace

int runWindowVariant(const fs::path& work, bool inlinePreview, bool permanent) {
    std::ofstream(work / "prog" / "Corvalin.ini", std::ios::binary)
        << "\"" << (work / "src").native() << "\",\"" << (work / "dst").native() << "\",\"\",0,1\r\n";
    if (permanent)
        std::ofstream(work / "prog" / "Corvalin.conf", std::ios::binary) << "permanent_deletion=true\n";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(quietMessages);
    int argc = 1;
    char name[] = "corvalin";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    Module1 vars;
    PrintedMessages messages;
    Form1 form(vars, settingsIn(work), messages);
    if (!form.Form_Load())
        return 2;
    form.show();
    QApplication::processEvents();
    MoveController::of(form).setInlinePreview(inlinePreview);
    const auto start = Clock::now();
    form.Command1_Click();
    const double seconds = secondsSince(start);
    std::printf("%.6f\n", seconds);
    return messages.shown == 0 ? 0 : 3;
}

int runCoreVariant(const fs::path& work, bool permanent) {
    Module1 vars;
    SilentObserver observer(work / "dst");
    std::vector<fs::path> folderList;
    MoveRun run(vars, settingsIn(work), observer, Removal(permanent));
    const auto start = Clock::now();
    const MoveRunResult result = run.run(work / "src", true, folderList);
    const double seconds = secondsSince(start);
    std::printf("%.6f\n", seconds);
    if (result.error)
        std::fprintf(stderr, "failed: %s\n", result.error->path.c_str());
    return result.outcome == MoveOutcome::Completed ? 0 : 3;
}

int runFloorVariant(const fs::path& work) {
    std::vector<fs::path> pictures;
    for (const auto& entry : fs::recursive_directory_iterator(work / "src")) {
        if (entry.is_regular_file() && isPicture(entry.path().filename().native()))
            pictures.push_back(entry.path());
    }
    const SettingsFiles files = settingsIn(work);
    const fs::path destination = work / "dst";
    const auto start = Clock::now();
    std::int32_t serialNo = 0;
    for (const fs::path& picture : pictures) {
        if (!writeCounterFile(files, serialNo))
            return 3;
        const fs::path target = joinPath(destination, serialPrefix(serialNo) + picture.filename().native());
        if (!moveNoReplace(picture, target))
            return 3;
        ++serialNo;
    }
    std::printf("%.6f\n", secondsSince(start));
    return 0;
}

} // namespace corvalin::bench
