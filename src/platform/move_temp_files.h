#pragma once

#include "platform/file_ops.h"

#include <string_view>

// The hidden files of a move across file systems, shared by the batch that makes them and the
// recovery that finishes them (not a public API).
//
//   <dest>/.corvalin-<pid>-<n>.from  the record: the source path, then a NUL and the final path
//                                    once the copy is to be renamed into place
//   <dest>/.corvalin-<pid>-<n>.part  the copy
namespace corvalin {

inline constexpr std::string_view kMoveTempPrefix = ".corvalin-";
inline constexpr std::string_view kRecordSuffix = ".from";
inline constexpr std::string_view kPartSuffix = ".part";

} // namespace corvalin
