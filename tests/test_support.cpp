#include "test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tarvo::testing {

void Recorder::start_tag(int, std::string_view name, std::span<const Attribute> attributes) {
    std::string e = "start " + std::string(name);
    for (const Attribute& a : attributes) {
        e += ' ';
        e.append(a.name).append("=").append(a.value);
    }
    events.push_back(e);
}

void Recorder::text(int, std::string_view element_name, std::string_view text) {
    events.push_back("text " + std::string(element_name) + " |" + std::string(text) + "|");
}

void Recorder::end_tag(int, std::string_view name) { events.push_back("end " + std::string(name)); }

TempFile::TempFile(const std::string& content, const std::string& name) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    path_ = dir_ + "/" + name;
    std::ofstream(path_, std::ios::binary) << content;
}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

Outcome parse_document(const std::string& grammar, const std::string& document, int flags) {
    const SchemaTable* g = find_grammar(grammar);
    if (!g) throw std::invalid_argument("unknown grammar " + grammar);
    TempFile file(document);
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(file.path()).parent_path());
    Recorder recorder;
    Outcome out{parse_file(*g, "doc.xml", &recorder, flags), {}};
    std::filesystem::current_path(cwd);
    out.events = std::move(recorder.events);
    return out;
}

std::string xml(const std::string& body) { return "<?xml version=\"1.0\"?>\n" + body; }

}  // namespace tarvo::testing
