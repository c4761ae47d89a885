#include "program_session.h"

#include "held_move.h"

#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace corvalin::e2e {

namespace fs = std::filesystem;

namespace {

// The main window's client area; the menu bar lies above it.
constexpr QSize kClientSize(364, 415);
// Far enough into the first menu title to hit it whatever the font.
constexpr int kFirstMenuTitleX = 20;
// A sanitized program is slow to start.
constexpr int kStartTimeoutMs = 60000;

fs::path outputFileOf(const fs::path& folder) {
    return folder.parent_path() / (folder.filename().native() + "-output.txt");
}

} // namespace

std::string settingsLine(const fs::path& source, const fs::path& destination, const fs::path& maker,
                         int runFlag, int deleteOption) {
    return "\"" + source.native() + "\",\"" + destination.native() + "\",\"" + maker.native() + "\"," +
           std::to_string(runFlag) + "," + std::to_string(deleteOption) + "\r\n";
}

ProgramSession::ProgramSession(const XSession& x, fs::path folder) : m_x(x), m_folder(std::move(folder)) {
    fs::create_directories(m_folder);
}

ProgramSession::~ProgramSession() {
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QString ProgramSession::start() {
    std::error_code error;
    fs::copy_file(CORVALIN_BINARY, m_folder / "corvalin", fs::copy_options::skip_existing, error);
    if (!error)
        fs::copy_file(CORVALIN_README, m_folder / "Readme.txt", fs::copy_options::skip_existing, error);
    if (error)
        return QString::fromStdString("cannot copy the program: " + error.message());

    QProcessEnvironment env = m_x.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    fs::create_directories(home());
    env.insert("HOME", QString::fromStdString(home().native()));
    env.insert("XDG_DATA_HOME", QString::fromStdString((home() / ".local/share").native()));
    // Leaks inside Qt and the libraries it loads are theirs; CTest sets this, a direct run may not.
    if (!env.contains("LSAN_OPTIONS"))
        env.insert("LSAN_OPTIONS", "suppressions=" CORVALIN_LSAN_SUPPRESSIONS ":print_suppressions=0");
    m_process.setProcessEnvironment(env);
    if (m_held)
        m_held->prepare(m_process, [] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    else
        endWithParent(m_process);
    m_process.setWorkingDirectory(QString::fromStdString(m_folder.native()));
    const QString output = QString::fromStdString(outputFileOf(m_folder).native());
    m_process.setStandardOutputFile(output);
    m_process.setStandardErrorFile(output);
    m_process.start(QString::fromStdString((m_folder / "corvalin").native()), {});
    if (!m_process.waitForStarted(10000))
        return "the program did not start: " + m_process.errorString();
    // At once: a rename before the listener is served would wait for it.
    if (m_held)
        (void)m_held->attach();

    std::optional<WindowId> window;
    waitUntil(
        [&] {
            for (WindowId id : m_x.windows("^Corvalin$")) {
                if (m_x.windowSize(id).width() == kClientSize.width())
                    window = id;
            }
            return window.has_value() || !isRunning();
        },
        kStartTimeoutMs);
    if (!window)
        return "the main window did not appear\n" + errorOutput();
    m_mainWindow = *window;
    m_menuBarHeight = m_x.windowSize(m_mainWindow).height() - kClientSize.height();
    if (m_menuBarHeight <= 0 || !m_x.waitUntilActive(m_mainWindow, 20000))
        return "the main window is not ready for input";
    return {};
}

bool ProgramSession::clickControl(const QRect& place, const QString& modifier) const {
    return m_x.click(m_mainWindow, place.center() + QPoint(0, m_menuBarHeight), modifier);
}

bool ProgramSession::chooseMenuEntry(int menu, int entry) const {
    if (!m_x.click(m_mainWindow, {kFirstMenuTitleX, m_menuBarHeight / 2}))
        return false;
    // A loaded machine maps the menu late, and a key that comes first goes to the main window
    // (a lost Down chose the entry above the one asked for).
    QTest::qWait(300);
    // Opened by the pointer, a menu has no current entry yet; Down makes the first one current.
    // Right goes on to the next menu with its first entry current.
    QStringList keys;
    if (menu == 1)
        keys << "Right";
    for (int i = menu == 1 ? 0 : -1; i < entry; ++i)
        keys << "Down";
    keys << "Return";
    return m_x.key(keys);
}

bool ProgramSession::waitForExit(int timeoutMs) {
    return waitUntil([this] { return !isRunning(); }, timeoutMs);
}

bool ProgramSession::exitedCleanly() const {
    return !isRunning() && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QString ProgramSession::errorOutput() const {
    QFile file(QString::fromStdString(outputFileOf(m_folder).native()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    return QString::fromUtf8(text.right(4000));
}

} // namespace corvalin::e2e
