#include "scenario.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

namespace corvalin::e2e {

namespace fs = std::filesystem;

namespace {

const QString kOptionsTitle = QStringLiteral("^ｵﾌﾟｼｮﾝ$");

QString failureName() {
    QString name = QString::fromLatin1(QTest::currentTestFunction());
    if (const char* tag = QTest::currentDataTag())
        name += "_" + QString::fromUtf8(tag);
    return name.replace(QRegularExpression("[^A-Za-z0-9_-]+"), "_");
}

} // namespace

Scenario::Scenario(const XSession& x) : m_x(x) {
    if (!m_dir.isValid())
        return;
    m_root = fs::canonical(m_dir.path().toStdString());
    m_program = std::make_unique<ProgramSession>(x, m_root / "prog");
}

Scenario::~Scenario() {
    if (!QTest::currentTestFailed())
        return;
    QDir().mkpath(CORVALIN_E2E_SCREENSHOTS);
    const QString shot = m_x.screenshot(CORVALIN_E2E_SCREENSHOTS "/" + failureName() + ".png");
    qWarning().noquote() << "screenshot:" << (shot.isEmpty() ? "could not be taken" : shot);
    if (m_program && !m_program->errorOutput().isEmpty())
        qWarning().noquote() << "program output:\n" << m_program->errorOutput();
}

WindowId Scenario::openOptions() const {
    if (!m_program->chooseMenuEntry(0, 0))
        return 0;
    const auto dialog = m_x.waitForWindow(kOptionsTitle, kWindowTimeoutMs);
    return dialog && m_x.waitUntilActive(*dialog, kWindowTimeoutMs) ? *dialog : 0;
}

bool Scenario::closeFromMenu() {
    return m_program->chooseMenuEntry(0, 2) && m_program->waitForExit(kExitTimeoutMs) &&
           m_program->exitedCleanly();
}

bool Scenario::waitUntilIdle() const {
    std::optional<WindowId> dialog;
    // The menu is chosen again only when no dialog has come, so that keys never reach a dialog
    // that was merely slow to appear.
    const bool opened = waitUntil(
        [&] {
            if (!m_program->isRunning())
                return true;
            dialog = m_x.waitForWindow(kOptionsTitle, 0);
            if (!dialog && m_program->chooseMenuEntry(0, 0))
                dialog = m_x.waitForWindow(kOptionsTitle, 5000);
            return dialog.has_value();
        },
        kRunTimeoutMs);
    return opened && dialog && m_x.waitUntilActive(*dialog, kWindowTimeoutMs) && m_x.key({"Escape"}) &&
           m_x.waitForNoWindow(*dialog, kWindowTimeoutMs) &&
           m_x.waitUntilActive(m_program->mainWindow(), kWindowTimeoutMs);
}

} // namespace corvalin::e2e
