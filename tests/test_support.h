// Shared helpers: parse a document given as a string, recording events.
#pragma once

#include <string>
#include <vector>

#include "tarvo/tarvo.h"

namespace tarvo::testing {

// Events in a compact text form: "start NAME a=1 b=2", "text NAME |data|",
// "end NAME".
class Recorder : public Handler {
public:
    void start_tag(int element, std::string_view name, std::span<const Attribute> attributes) override;
    void text(int element, std::string_view element_name, std::string_view text) override;
    void end_tag(int element, std::string_view name) override;

    std::vector<std::string> events;
};

// A file in a fresh temporary directory, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& content, const std::string& name = "doc.xml");
    ~TempFile();
    const std::string& path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};

struct Outcome {
    Result result;
    std::vector<std::string> events;
};

// Parses `document` (written to a temporary file named doc.xml) against
// `grammar`, recording events. Messages name the file "doc.xml" relative to
// the temporary directory, so expectations can spell them out: the parse
// runs with that directory as the working directory.
Outcome parse_document(const std::string& grammar, const std::string& document, int flags = PARSE_STRICT);

// The usual XML declaration followed by `body`.
std::string xml(const std::string& body);

}  // namespace tarvo::testing
