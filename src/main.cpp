#include "app/error_text.h"
#include "app/program_files.h"
#include "app/ui/app_icon.h"
#include "app/ui/form1.h"
#include "app/ui/qt_message_box.h"
#include "app/ui/raise_request.h"
#include "app/ui/shutdown_signals.h"
#include "cli/command.h"
#include "cli/command_line.h"
#include "history/ui/frm_history.h"
#include "info/ui/info_factory.h"
#include "options/ui/options_factory.h"
#include "platform/instance_lock.h"

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

void describeApplication() {
    QApplication::setApplicationName(QStringLiteral("Corvalin"));
    QApplication::setWindowIcon(corvalin::programIcon());
    // The desktop matches the window to its entry by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(CORVALIN_DESKTOP_ID));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(CORVALIN_VERSION_MAJOR)
                                            .arg(CORVALIN_VERSION_MINOR)
                                            .arg(CORVALIN_VERSION_PATCH));
}

// Another Corvalin holds the settings folder: a window is asked to come to the front; a command
// is named in a message. Either way this start ends without touching any file.
int handOverToRunningInstance(const std::filesystem::path& settingsFolder, corvalin::MessageBox& messages) {
    if (corvalin::askRunningWindowToRaise(settingsFolder))
        return corvalin::kExitDone;
    messages.show(corvalin::otherInstanceText(settingsFolder), corvalin::MessageButtons::Ok,
                  corvalin::MessageIcon::Information);
    return corvalin::kExitOtherInstance;
}

int runWindow(QApplication& app, const corvalin::SettingsFiles& files, corvalin::MessageBox& messages) {
    // At once, so that a second start never waits on this one's start-up to be answered.
    corvalin::RaiseRequestListener raiseRequests(files.settingsFolder);
    corvalin::Module1 vars;
    corvalin::Form1 form(vars, files, messages);
    form.frmOptions.setFactory([&form] { return corvalin::createOptionsWindow(form); });
    form.Form4.setFactory([&form] { return corvalin::createHelpWindow(form); });
    form.frmAbout.setFactory([&form] { return corvalin::createAboutWindow(form); });
    form.frmHistory.setFactory([&form] { return corvalin::createHistoryWindow(form); });
    if (!form.Form_Load())
        return 0;

    QObject::connect(&raiseRequests, &corvalin::RaiseRequestListener::raiseRequested, &form,
                     [&form] { corvalin::bringToFront(&form); });
    corvalin::ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &corvalin::ShutdownSignals::shutdownRequested, &form, &QWidget::close);
    // Logging off: the session manager asks for the data to be saved; the shutdown sequence does.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.close(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, &corvalin::Form1::runShutdown);
    form.show();
    return app.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    if (corvalin::isCommandLine(argc, argv))
        return corvalin::runCommandLine(argc, argv);
    if (!displayAvailable()) {
        std::fputs("corvalin: no display found (DISPLAY is not set); start it from a desktop session.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    describeApplication();
    corvalin::QtMessageBox messages;
    const corvalin::SettingsFiles files = corvalin::settingsFilesOfThisProgram();
    // Held until the window has closed and saved both files.
    auto lock = corvalin::InstanceLock::tryAcquire(files.settingsFolder);
    if (lock && !lock.value())
        return handOverToRunningInstance(files.settingsFolder, messages);
    if (!lock)
        messages.show(corvalin::describeError(lock.error()), corvalin::MessageButtons::Ok,
                      corvalin::MessageIcon::Warning);
    return runWindow(app, files, messages);
}
