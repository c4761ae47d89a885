#include "cli/terminal.h"

#include "platform/name_text.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace corvalin {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

} // namespace

std::string terminalSafe(std::string_view text) {
    return legibleText(text);
}

Terminal::Terminal(std::FILE* out, std::FILE* err, bool showProgress)
    : m_out(out), m_err(err), m_showProgress(showProgress) {
    const char* term = std::getenv("TERM");
    m_dumb = term == nullptr || std::string_view(term) == "dumb";
}

Terminal Terminal::standard() {
    return Terminal(stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
}

void Terminal::progress(const std::string& text, bool now) {
    if (!m_showProgress)
        return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && m_progressShown && time - m_lastDrawn < kRedrawInterval)
        return;
    const std::string line = terminalSafe(text);
    // A terminal without "erase line" gets the rest of the former line blanked out by spaces.
    const std::string blank =
        m_dumb && line.size() < m_progressLength ? std::string(m_progressLength - line.size(), ' ') : "";
    std::fprintf(m_out, m_dumb ? "\r%s%s" : "\r\033[K%s%s", line.c_str(), blank.c_str());
    flushOut();
    m_progressShown = true;
    m_progressLength = line.size();
    m_lastDrawn = time;
}

void Terminal::clearProgress() {
    if (!m_progressShown)
        return;
    if (m_dumb)
        std::fprintf(m_out, "\r%s\r", std::string(m_progressLength, ' ').c_str());
    else
        std::fputs("\r\033[K", m_out);
    flushOut();
    m_progressShown = false;
}

void Terminal::flushOut() {
    if (std::fflush(m_out) == 0 && !std::ferror(m_out))
        return;
    if (errno != EPIPE && m_outError == 0)
        m_outError = errno != 0 ? errno : EIO;
    std::clearerr(m_out);
}

void Terminal::result(const std::string& line) {
    clearProgress();
    std::fprintf(m_out, "%s\n", terminalSafe(line).c_str());
    flushOut();
}

void Terminal::message(const std::string& line) {
    clearProgress();
    std::fprintf(m_err, "corvalin: %s\n", terminalSafe(line).c_str());
    std::fflush(m_err);
}

namespace {

template <class WriteLine> void eachLine(const std::string& text, WriteLine writeLine) {
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        writeLine(text.substr(start, end - start));
        start = end + 1;
    }
    writeLine(text.substr(start));
}

} // namespace

void Terminal::resultLines(const std::string& text) {
    eachLine(text, [this](const std::string& line) { result(line); });
}

void Terminal::messageLines(const std::string& text) {
    eachLine(text, [this](const std::string& line) { message(line); });
}

void Terminal::help(const std::string& text) {
    std::fputs(text.c_str(), m_out);
    flushOut();
}

void Terminal::usage(const std::string& text) {
    clearProgress();
    std::fputs(text.c_str(), m_err);
    std::fflush(m_err);
}

} // namespace corvalin
