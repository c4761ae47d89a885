#pragma once

#include "platform/disk_kind.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Whether a picture can be put on the destination's disk under its new name. A stick formatted
// for Windows takes fewer names than the disk of the home folder, and a name it cannot hold fails
// only once the copy is made, with a reason that does not say why (ENOENT for "a?b.jpg" on exFAT).
// Such a picture is known before anything is done and left in its folder, as a name too long is.
namespace corvalin {

enum class DiskRefusal {
    None,
    NameTooLong,      // more bytes than the file system takes
    NameTooLongUtf16, // more than 255 UTF-16 units on a disk that stores names so
    ForbiddenCharacter,
    TrailingDotOrBlank,
    NotUtf8,  // bytes of an older code page (CP932) where the disk stores UTF-16
    NotAscii, // a character beyond ASCII where the disk takes no other
    FileTooLarge
};

struct DiskFit {
    DiskRefusal refusal = DiskRefusal::None;
    std::string character; // the refused character, as the user reads it, for ForbiddenCharacter
};

// Why `name`, for a file of `size` bytes, cannot be put on a disk with `rules` whose file system
// takes names of at most `longestName` bytes; None when it can.
DiskFit diskFitOf(std::string_view name, std::uint64_t size, const DiskNameRules& rules,
                  std::size_t longestName);

// The reason for the user, with what to do, in the words of a name too long (files_left.h).
std::string diskRefusalText(const DiskFit& fit, const DiskNameRules& rules, std::size_t longestName);

} // namespace corvalin
