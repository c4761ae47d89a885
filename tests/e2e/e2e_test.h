#pragma once

#include "scenario.h"

#include <QObject>
#include <QtTest>

#include <filesystem>
#include <memory>

namespace corvalin::e2e {

// What every end-to-end test class shares: one X session for all its scenarios, a fresh scenario
// for each, and the whole class skipped where the X tools are missing.
class E2eTest : public QObject {
    Q_OBJECT

protected:
    XSession m_x;
    std::unique_ptr<Scenario> m_scenario;

    std::filesystem::path root() const { return m_scenario->root(); }
    ProgramSession& program() { return m_scenario->program(); }
    void closeFromMenu() { QVERIFY2(m_scenario->closeFromMenu(), qPrintable(program().errorOutput())); }

private slots:
    void initTestCase() {
        const QStringList missing = XSession::missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable("the end-to-end suite needs " + missing.join(", ") +
                             " (scripts/quickstart.sh test installs them)"));
        const QString error = m_x.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void init() {
        m_scenario = std::make_unique<Scenario>(m_x);
        QVERIFY(m_scenario->isValid());
    }

    void cleanup() { m_scenario.reset(); }
};

} // namespace corvalin::e2e
