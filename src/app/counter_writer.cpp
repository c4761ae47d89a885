#include "app/counter_writer.h"

#include "app/settings_codec.h"
#include "platform/file_ops.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace {

const char* const kWriteText = "ファイルの書き込み";

} // namespace

CounterWriter::CounterWriter(SettingsFiles files) : m_files(std::move(files)) {}

Status CounterWriter::write(std::int32_t serialNo) {
    const std::string text = encodeCounter(serialNo);
    if (!canWriteInPlace(text.size()))
        return replace(serialNo);
    const ssize_t written = ::pwrite(m_fd.get(), text.data(), text.size(), 0);
    if (written == static_cast<ssize_t>(text.size())) {
        m_length = text.size();
        return {};
    }
    const int error = written < 0 ? errno : EIO;
    m_fd.close();
    return errorFromErrno(kWriteText, m_files.counterFile(), error);
}

bool CounterWriter::canWriteInPlace(std::size_t length) const {
    struct stat st {};
    // A file removed or replaced since it was opened no longer is the counter file.
    return m_fd.valid() && length >= m_length && ::fstat(m_fd.get(), &st) == 0 && st.st_nlink > 0 &&
           static_cast<std::size_t>(st.st_size) == m_length;
}

Status CounterWriter::replace(std::int32_t serialNo) {
    m_fd.close();
    if (Status written = writeCounterFile(m_files, serialNo); !written)
        return written;
    // Only the later numbers need it open; without it they replace the file each time.
    m_fd = UniqueFd(::open(m_files.counterFile().c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    m_length = encodeCounter(serialNo).size();
    return {};
}

} // namespace corvalin
