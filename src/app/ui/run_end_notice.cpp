#include "app/ui/run_end_notice.h"

#include "app/long_run.h"
#include "app/ui/accessibility.h"
#include "app/ui/desktop_notification.h"
#include "app/ui/form1.h"
#include "app/ui/ui_text.h"

#include <QAccessible>

namespace corvalin {

RunEndNotice& RunEndNotice::of(Form1& form) {
    auto* notice = form.findChild<RunEndNotice*>(QStringLiteral("runEndNotice"), Qt::FindDirectChildrenOnly);
    return notice ? *notice : *new RunEndNotice(form);
}

RunEndNotice::RunEndNotice(Form1& form) : QObject(&form), m_form(form) {
    setObjectName(QStringLiteral("runEndNotice"));
}

// A screen reader hears every run's end, so the run is counted for it too.
bool RunEndNotice::wanted() const {
    return m_form.extraOptions().notifyLongRuns || QAccessible::isActive();
}

void RunEndNotice::runStarted() {
    m_started = m_clock();
    m_form.showRunResult({});
}

// A window that is closing was looked at a moment ago; its user knows the run has ended.
void RunEndNotice::runEnded(const QString& title, const std::string& summary) {
    m_form.showRunResult(summary);
    if (m_form.closeRequested())
        return;
    // The progress labels changed silently during the run; their outcome is said once, here, to a
    // screen reader that listens.
    if (QAccessible::isActive())
        announce(&m_form, toDisplay(summary));
    if (wantsEndNotice(m_clock() - m_started, m_form.isActiveWindow(), m_form.extraOptions().notifyLongRuns))
        sendDesktopNotification(title, toDisplay(summary));
}

QString moveEndTitle() {
    return QStringLiteral("ファイル移動が終わりました");
}

QString stripEndTitle() {
    return QStringLiteral("通し番号削除が終わりました");
}

} // namespace corvalin
