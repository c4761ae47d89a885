#pragma once

#include <QProcess>
#include <QStringList>

#include <filesystem>
#include <system_error>

// The built program run as a user runs it: copied into a folder of the test's own, so that its
// settings files live there, and started with arguments.
namespace corvalin::test {

struct ProgramRun {
    bool finished = false;
    bool signalled = false; // ended by a signal
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline bool copyProgram(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::filesystem::copy_file(CORVALIN_BINARY, folder / "corvalin",
                               std::filesystem::copy_options::overwrite_existing, error);
    return !error;
}

// The window on the offscreen platform; messages in a fixed locale.
inline void prepareProgram(QProcess& process, const std::filesystem::path& folder,
                           const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LC_ALL", "C.UTF-8");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromStdString(folder.native()));
    process.setProgram(QString::fromStdString((folder / "corvalin").native()));
    process.setArguments(arguments);
}

inline ProgramRun finishedRun(QProcess& process, int timeoutMs) {
    ProgramRun run;
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.signalled = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

inline ProgramRun runProgram(const std::filesystem::path& folder, const QStringList& arguments,
                             int timeoutMs = 60000) {
    QProcess process;
    prepareProgram(process, folder, arguments);
    process.start();
    return finishedRun(process, timeoutMs);
}

} // namespace corvalin::test
