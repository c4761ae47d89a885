#include "app/startup.h"
#include "app/ui/app_icon.h"
#include "app/ui/form1.h"
#include "app/ui/qt_message_box.h"
#include "app/ui/shutdown_signals.h"
#include "history/ui/frm_history.h"
#include "info/ui/info_factory.h"
#include "options/ui/options_factory.h"
#include "platform/program_folder.h"

#include <QApplication>
#include <QSessionManager>

#include <cstdio>
#include <cstdlib>

namespace {

// Without a display Qt would abort with a long message; one clear line is kinder.
bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

} // namespace

int main(int argc, char* argv[]) {
    if (!displayAvailable()) {
        std::fputs("corvalin: no display found (DISPLAY is not set); start it from a desktop session.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvalin"));
    QApplication::setWindowIcon(corvalin::programIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("corvalin"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(CORVALIN_VERSION_MAJOR)
                                            .arg(CORVALIN_VERSION_MINOR)
                                            .arg(CORVALIN_VERSION_PATCH));

    const std::filesystem::path program = corvalin::programFolder();
    corvalin::Module1 vars;
    corvalin::QtMessageBox messages;
    const std::filesystem::path firstStart =
        corvalin::isInstalled(program) ? corvalin::homeFolder() : std::filesystem::path();
    const std::filesystem::path settings = corvalin::settingsFolder(program);
    corvalin::Form1 form(vars, {program, settings, firstStart, corvalin::historyFolder(program, settings)},
                         messages);
    form.frmOptions.setFactory([&form] { return corvalin::createOptionsWindow(form); });
    form.Form4.setFactory([&form] { return corvalin::createHelpWindow(form); });
    form.frmAbout.setFactory([&form] { return corvalin::createAboutWindow(form); });
    form.frmHistory.setFactory([&form] { return corvalin::createHistoryWindow(form); });
    if (!form.Form_Load())
        return 0;

    corvalin::ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &corvalin::ShutdownSignals::shutdownRequested, &form, &QWidget::close);
    // Logging off: the session manager asks for the data to be saved; the shutdown sequence does.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.close(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, &corvalin::Form1::runShutdown);
    form.show();
    return app.exec();
}
