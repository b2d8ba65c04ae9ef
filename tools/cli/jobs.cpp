// Listing the documents of a `tarvo check` run. The directories under the
// operands are listed by several threads at once, each taking the next
// directory not yet listed and adding the directories it finds to the
// queue; the *.xml files found are then sorted by path, so the list is the
// same whatever the number of threads and whichever finished first.
#include "jobs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

namespace tarvo::cli {

namespace {

// A file found under a directory operand.
struct Found {
    std::string path;
    bool special = false;  // a FIFO, socket or device (or a link to one): not to be opened
    bool operator<(const Found& other) const { return path < other.path; }
};

// `dir` and `name` joined as the standard library's paths join them: one
// '/' between, none added after a '/'.
std::string joined(const std::string& dir, std::string_view name) {
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path += dir;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

bool is_document_name(std::string_view name) {
    constexpr std::string_view kXml = ".xml";
    return name.size() > kXml.size() && name.substr(name.size() - kXml.size()) == kXml;
}

// The directories still to list, shared by the threads of one walk.
class Walk {
public:
    explicit Walk(size_t operands) : found_(operands) {}

    void add(size_t operand, std::string dir) { queue_.emplace_back(operand, std::move(dir)); }

    // Lists directories until none is left and none is being listed.
    void work() noexcept {
        std::vector<std::pair<size_t, Found>> mine;
        try {
            std::vector<std::string> subdirs;
            for (;;) {
                std::pair<size_t, std::string> next;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    ready_.wait(lock, [this] { return !queue_.empty() || busy_ == 0 || failure_; });
                    if (queue_.empty() || failure_) break;
                    next = std::move(queue_.back());
                    queue_.pop_back();
                    ++busy_;
                }
                subdirs.clear();
                list(next.second, next.first, mine, subdirs);
                std::lock_guard<std::mutex> lock(mutex_);
                for (std::string& d : subdirs) queue_.emplace_back(next.first, std::move(d));
                --busy_;
                ready_.notify_all();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& [operand, f] : mine) found_[operand].push_back(std::move(f));
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
        ready_.notify_all();
    }

    // What was found under each operand, in path order.
    std::vector<std::vector<Found>> sorted() {
        if (failure_) std::rethrow_exception(failure_);
        for (auto& f : found_) std::sort(f.begin(), f.end());
        return std::move(found_);
    }

private:
    // The *.xml files of `dir` into `found` and its directories into
    // `subdirs`; `dir` itself as a file when it cannot be listed (wholly or
    // from some entry on). Entry types come from the listing itself where
    // the file system gives them, so most entries cost no stat().
    static void list(const std::string& dir, size_t operand, std::vector<std::pair<size_t, Found>>& found,
                     std::vector<std::string>& subdirs) {
        std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
        if (!d) {
            found.emplace_back(operand, Found{dir});
            return;
        }
        for (;;) {
            errno = 0;
            const dirent* e = ::readdir(d.get());
            if (!e) {
                if (errno) found.emplace_back(operand, Found{dir});
                break;
            }
            std::string_view name = e->d_name;
            if (name == "." || name == "..") continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::lstat(joined(dir, name).c_str(), &st) == 0) type = IFTODT(st.st_mode);
            }
            if (type == DT_DIR) {
                subdirs.push_back(joined(dir, name));
                continue;
            }
            if (!is_document_name(name)) continue;
            bool special = false;
            std::string path = joined(dir, name);
            if (type == DT_LNK) {
                struct stat st;  // what the link leads to: a FIFO there is as special
                special = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
            } else {
                special = type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
            }
            found.emplace_back(operand, Found{std::move(path), special});
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::pair<size_t, std::string>> queue_;
    size_t busy_ = 0;  // directories being listed
    std::vector<std::vector<Found>> found_;
    std::exception_ptr failure_;
};

}  // namespace

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<tarvo::Source> list_documents(const std::vector<std::string>& files, bool recursive, unsigned jobs,
                                          StdinData& in) {
    enum class Kind { stdin, file, directory };
    std::vector<Kind> kinds;
    size_t directories = 0;
    for (const std::string& file : files) {
        if (file == "-") {
            kinds.push_back(Kind::stdin);
        } else if (!is_directory(file)) {
            kinds.push_back(Kind::file);  // a missing file is reported by its check
        } else if (!recursive) {
            throw UsageError("'" + file + "' is a directory; -r checks the *.xml files under it");
        } else {
            kinds.push_back(Kind::directory);
            ++directories;
        }
    }
    std::vector<std::vector<Found>> found;
    if (directories) {
        Walk walk(files.size());
        for (size_t i = 0; i < files.size(); ++i)
            if (kinds[i] == Kind::directory) walk.add(i, files[i]);
        unsigned threads = jobs ? jobs : std::max(1u, std::thread::hardware_concurrency());
        std::vector<std::thread> workers;
        try {
            for (unsigned j = 1; j < threads; ++j) workers.emplace_back([&walk] { walk.work(); });
        } catch (...) {
            // No thread to be had: this one lists what the others do not.
        }
        walk.work();
        for (std::thread& t : workers) t.join();
        found = walk.sorted();
    }
    if (std::find(kinds.begin(), kinds.end(), Kind::stdin) != kinds.end()) in = read_stdin();
    std::vector<tarvo::Source> sources;
    for (size_t i = 0; i < files.size(); ++i) {
        switch (kinds[i]) {
        case Kind::stdin:
            // Standard input that fails to read is reported as a file that cannot be read.
            sources.push_back(in.error ? tarvo::Source::unreadable(kStdinName, in.error)
                                       : tarvo::Source::bytes(in.bytes, kStdinName));
            break;
        case Kind::file: sources.push_back(tarvo::Source::file(files[i])); break;
        case Kind::directory:
            for (Found& f : found[i])
                sources.push_back(f.special ? tarvo::Source::unreadable(std::move(f.path), 0)
                                            : tarvo::Source::file(std::move(f.path)));
            break;
        }
    }
    return sources;
}

}  // namespace tarvo::cli
