// What the fuzz targets that read their input from a file share.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace tarvo_fuzz {

// This process's scratch file, made once under /tmp and removed at exit.
struct ScratchFile {
    std::string path;
    ScratchFile() {
        char name[] = "/tmp/tarvo-fuzz-XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0) return;
        close(fd);
        path = name;
    }
    ~ScratchFile() {
        if (!path.empty()) unlink(path.c_str());
    }
};

// Writes `data` to the scratch file and returns its path; empty when the
// file cannot be written.
inline std::string write_scratch_file(std::string_view data) {
    static const ScratchFile file;
    if (file.path.empty()) return {};
    std::FILE* f = std::fopen(file.path.c_str(), "wb");
    if (!f) return {};
    bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0 || !written) return {};
    return file.path;
}

}  // namespace tarvo_fuzz
