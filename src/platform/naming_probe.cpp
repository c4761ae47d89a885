#include "platform/naming_probe.h"

#include "platform/move_temp_files.h"
#include "platform/paths.h"
#include "platform/posix_io.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kProbeText = "フォルダへのファイルの作成";
constexpr std::string_view kProbeMark = ".probe";

// Names a disk may refuse, each tried as a suffix of the probe's own name.
constexpr std::string_view kCp932Suffix = "-\x83\x65\x83\x58\x83\x67";            // "テスト" in CP932
constexpr std::string_view kUtf8Suffix = "-\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"; // "テスト"
constexpr std::string_view kWindowsSuffix = "-\"*:<>?\\|";

std::string freshProbeName() {
    static std::atomic<unsigned> counter{0};
    return std::string(kMoveTempPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
           std::string(kProbeMark);
}

// The probe files made so far, removed in reverse when the probe ends however it ends; a failed
// removal is what the probe reports.
class ProbeFiles {
public:
    explicit ProbeFiles(int folderFd) : m_fd(folderFd) {}
    ~ProbeFiles() { removeAll(); }
    ProbeFiles(const ProbeFiles&) = delete;
    ProbeFiles& operator=(const ProbeFiles&) = delete;

    // Creates `name` exclusively: 0, or errno.
    int create(const std::string& name) {
        UniqueFd fd(::openat(m_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid())
            return errno;
        m_names.push_back(name);
        return fd.close();
    }
    void renamed(const std::string& from, const std::string& to) {
        for (std::string& name : m_names) {
            if (name == from)
                name = to;
        }
    }
    void added(const std::string& name) { m_names.push_back(name); }
    // Removes every probe file: 0, or the errno of the first removal that failed.
    int removeAll() {
        int first = 0;
        for (auto it = m_names.rbegin(); it != m_names.rend(); ++it) {
            if (::unlinkat(m_fd, it->c_str(), 0) != 0 && errno != ENOENT && first == 0)
                first = errno;
        }
        m_names.clear();
        return first;
    }

private:
    int m_fd;
    std::vector<std::string> m_names;
};

bool sameFile(int folderFd, const std::string& a, const std::string& b, bool twoLinks) {
    struct stat first {};
    struct stat second {};
    return ::fstatat(folderFd, a.c_str(), &first, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstatat(folderFd, b.c_str(), &second, AT_SYMLINK_NOFOLLOW) == 0 &&
           first.st_ino == second.st_ino && first.st_dev == second.st_dev &&
           (!twoLinks || (first.st_nlink == 2 && second.st_nlink == 2));
}

void probeLinks(int folderFd, const std::string& name, ProbeFiles& files, NamingProbe& probe) {
    const std::string linked = name + "-link";
    if (::linkat(folderFd, name.c_str(), folderFd, linked.c_str(), 0) != 0)
        return;
    files.added(linked);
    probe.hardLinks = true;
    probe.linksShown = sameFile(folderFd, name, linked, true);
}

// True when the disk refused to create the name; a name taken by someone else proves nothing.
bool refuses(const std::string& name, ProbeFiles& files) {
    const int error = files.create(name);
    return error != 0 && error != EEXIST;
}

std::string upperCase(std::string name) {
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

} // namespace

NamingWay copyNamingWay(const NamingProbe& probe) {
    if (probe.hardLinks && probe.linksShown)
        return NamingWay::HardLink;
    if (probe.renameNoReplace)
        return NamingWay::RenameNoReplace;
    if (probe.exclusiveCreate)
        return NamingWay::ExclusiveCreate;
    return NamingWay::None;
}

Result<NamingProbe> probeNaming(int folderFd, const fs::path& shown) {
    ProbeFiles files(folderFd);
    std::string name = freshProbeName();
    if (const int error = files.create(name))
        return errorFromErrno(kProbeText, shown, error);
    NamingProbe probe;
    probe.exclusiveCreate = files.create(name) == EEXIST;
    struct stat st {};
    probe.caseInsensitive = ::fstatat(folderFd, upperCase(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    probeLinks(folderFd, name, files, probe);
    const std::string moved = name + "-moved";
    if (::syscall(SYS_renameat2, folderFd, name.c_str(), folderFd, moved.c_str(), RENAME_NOREPLACE) == 0) {
        files.renamed(name, moved);
        probe.renameNoReplace = true;
    }
    probe.refusesNonUtf8 = refuses(name + std::string(kCp932Suffix), files);
    probe.refusesNonAscii = refuses(name + std::string(kUtf8Suffix), files);
    probe.refusesWindowsCharacters = refuses(name + std::string(kWindowsSuffix), files);
    if (const int error = files.removeAll())
        return errorFromErrno("ファイルの削除", joinPath(shown, name), error);
    return probe;
}

namespace {

// True for "<prefix><pid>-<n>.probe..." made by a process that is gone.
bool isLeftoverProbe(std::string_view name) {
    if (!name.starts_with(kMoveTempPrefix))
        return false;
    const pid_t pid = pidInTempName(name, kMoveTempPrefix.size());
    if (pid == 0)
        return false;
    std::size_t at = name.find('-', kMoveTempPrefix.size()) + 1;
    const std::size_t digits = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9')
        ++at;
    return at > digits && name.substr(at).starts_with(kProbeMark) && !ownerStillRunning(pid);
}

} // namespace

Status removeLeftoverProbes(int folderFd, const fs::path& shown) {
    std::vector<std::string> names;
    if (const int error = readFolderNames(folderFd, names))
        return errorFromErrno("フォルダの読み取り", shown, error);
    for (const std::string& name : names) {
        struct stat st {};
        if (!isLeftoverProbe(name) || ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(folderFd, name.c_str(), 0) != 0 && errno != ENOENT)
            return errorFromErrno("ファイルの削除", joinPath(shown, name), errno);
    }
    return {};
}

} // namespace corvalin
