#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace corvalin {

// Text that is safe to print, shown as the window and the plan show it: control characters (which
// could move the cursor or retitle the terminal) become stand-ins such as "<LF>" and "<ESC>",
// bytes that are not UTF-8 become U+FFFD; everything else is kept.
std::string terminalSafe(std::string_view text);

// Where a command writes: the result on standard output, messages on standard error, and while it
// runs a progress line redrawn in place, only when standard output is a terminal (a pipe gets only
// the result). Every line goes through terminalSafe().
class Terminal {
public:
    Terminal(std::FILE* out, std::FILE* err, bool showProgress);
    static Terminal standard();

    // Redraws the progress line, at most ten times a second unless `now`.
    void progress(const std::string& text, bool now = false);
    // One line of the result, after the progress line is cleared.
    void result(const std::string& line);
    // One line on standard error, "corvalin: " first.
    void message(const std::string& line);
    // Text of several lines, each as result() or message() writes it.
    void resultLines(const std::string& text);
    void messageLines(const std::string& text);
    // Help and version on standard output, a usage error on standard error, as they are.
    void help(const std::string& text);
    void usage(const std::string& text);

    // Why standard output could not be written (a full disk, /dev/full), or 0. A reader that left
    // early (`| head`) is no failure: the command's work is done all the same.
    int outputError() const { return m_outError; }

private:
    void clearProgress();
    void flushOut();

    std::FILE* m_out;
    std::FILE* m_err;
    bool m_showProgress;
    bool m_progressShown = false;
    bool m_dumb = false;
    std::size_t m_progressLength = 0;
    int m_outError = 0;
    std::chrono::steady_clock::time_point m_lastDrawn;
};

} // namespace corvalin
