#pragma once

#include "platform/file_ops.h"

#include <string_view>

// The hidden files of a move across file systems, shared by the batch that makes them and the
// recovery that finishes them (not a public API).
//
//   <dest>/.corvalin-<pid>-<n>.from  the record: the source path, then a NUL and the final path
//                                    once the copy is to be renamed into place
//   <dest>/.corvalin-<pid>-<n>.part  the copy
//   <dest>/.corvalin-<pid>-<n>.into  on a disk without links and without a rename that refuses
//                                    to replace: the source path, the final path and what the
//                                    source was, NUL-separated, then "made" once this program
//                                    created the final name (the copy is written there itself)
namespace corvalin {

inline constexpr std::string_view kMoveTempPrefix = ".corvalin-";
inline constexpr std::string_view kRecordSuffix = ".from";
inline constexpr std::string_view kPartSuffix = ".part";
inline constexpr std::string_view kIntoSuffix = ".into";
inline constexpr std::string_view kMadeMark = "made";

} // namespace corvalin
