// The documents a `tarvo check` run checks: its FILE operands, and the *.xml
// files under its directory operands, listed on several threads.
#pragma once

#include <string>
#include <vector>

#include "cli.h"

namespace tarvo::cli {

// Whether `path` names a directory (or a link to one). stat() rather than
// std::filesystem: no path is split for each FILE.
bool is_directory(const std::string& path);

// The documents of `files` in the order checked: standard input for '-'
// (its bytes, read into `in` when it is named, or its read error), each other
// operand that is not a directory as a file, and for a directory (with
// `recursive`; without it, a UsageError) its *.xml files in the order of
// their paths, byte by byte. The directories are walked on `jobs` threads
// (0: one per core). Links to directories are not followed; a FIFO, socket
// or device is listed as unreadable, never opened; a directory that cannot be
// listed is listed itself, so that its check reports it unreadable. `in` must
// outlive the sources that point into it.
std::vector<tarvo::Source> list_documents(const std::vector<std::string>& files, bool recursive, unsigned jobs,
                                          StdinData& in);

}  // namespace tarvo::cli
