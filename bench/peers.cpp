// tarvo-bench's peers and limits (see peers.h).
#include "peers.h"

#include <expat.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#ifdef TARVO_BENCH_PUGIXML
#include <pugixml.hpp>
#endif
#ifdef TARVO_BENCH_XERCES
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarvo_bench {

Peers::Peers() {
    xmlInitParser();
#ifdef TARVO_BENCH_XERCES
    xercesc::XMLPlatformUtils::Initialize();
#endif
}

Peers::~Peers() {
#ifdef TARVO_BENCH_XERCES
    xercesc::XMLPlatformUtils::Terminate();
#endif
    xmlCleanupParser();
}

namespace {
void XMLCALL expat_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL expat_end(void*, const XML_Char*) {}
void XMLCALL expat_text(void*, const XML_Char*, int) {}

}  // namespace

std::string run_expat(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, expat_start, expat_end);
    XML_SetCharacterDataHandler(p, expat_text);
    std::vector<char> buf(kChunk);
    std::string error;
    for (;;) {
        size_t n = std::fread(buf.data(), 1, buf.size(), f);
        bool last = n < buf.size();
        if (XML_Parse(p, buf.data(), static_cast<int>(n), last) == XML_STATUS_ERROR) {
            error = std::string("line ") + std::to_string(XML_GetCurrentLineNumber(p)) + ": " +
                    XML_ErrorString(XML_GetErrorCode(p));
            break;
        }
        if (last) break;
    }
    XML_ParserFree(p);
    std::fclose(f);
    return error;
}

namespace {
void libxml2_start(void*, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
                   const xmlChar**) {}
void libxml2_end(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void libxml2_text(void*, const xmlChar*, int) {}

// Counts problems instead of printing them; the first one is kept.
void libxml2_error(void* user, xmlErrorPtr e) {
    auto* first = static_cast<std::string*>(user);
    if (first->empty() && e) first->assign("line " + std::to_string(e->line) + ": " + (e->message ? e->message : "?"));
}

}  // namespace

std::string run_libxml2(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = libxml2_start;
    sax.endElementNs = libxml2_end;
    sax.characters = libxml2_text;
    sax.ignorableWhitespace = libxml2_text;
    std::string error;
    sax.serror = libxml2_error;

    // Every chunk goes through xmlParseChunk, the last one (maybe the first)
    // with `terminate` set: a document given only to the context's creation
    // is not read to its end.
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, &error, nullptr, 0, path.c_str());
    if (!ctxt) {
        std::fclose(f);
        return "cannot create a libxml2 push parser";
    }
    // The user data pointer doubles as the error sink (serror receives it).
    ctxt->userData = &error;
    std::vector<char> buf(kChunk);
    bool last = false;
    while (!last) {
        const size_t n = std::fread(buf.data(), 1, buf.size(), f);
        last = n < buf.size();
        if (xmlParseChunk(ctxt, buf.data(), static_cast<int>(n), last) != 0 && error.empty()) {
            error = "xmlParseChunk failed";
            break;
        }
    }
    if (last && !ctxt->wellFormed && error.empty()) error = "document is not well-formed";
    xmlFreeParserCtxt(ctxt);
    std::fclose(f);
    return error;
}

#ifdef TARVO_BENCH_PUGIXML
// pugixml's fastest way in: the whole file in one buffer, parsed in place
// into a DOM (entities and line ends decoded, nothing validated).
std::string run_pugixml(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    std::unique_ptr<char[]> buf(new char[static_cast<size_t>(size) + 1]);
    size_t n = std::fread(buf.get(), 1, static_cast<size_t>(size), f);
    std::fclose(f);
    pugi::xml_document doc;
    pugi::xml_parse_result r = doc.load_buffer_inplace(buf.get(), n, pugi::parse_default);
    return r ? std::string() : std::string("offset ") + std::to_string(r.offset) + ": " + r.description();
}
#endif

#ifdef TARVO_BENCH_XERCES
// Empty content handlers; the first error or fatal error is kept.
namespace {
class XercesHandler final : public xercesc::DefaultHandler {
public:
    std::string first;
    void error(const xercesc::SAXParseException& e) override { keep(e); }
    void fatalError(const xercesc::SAXParseException& e) override { keep(e); }

private:
    void keep(const xercesc::SAXParseException& e) {
        if (!first.empty()) return;
        char* m = xercesc::XMLString::transcode(e.getMessage());
        first = "line " + std::to_string(e.getLineNumber()) + ": " + m;
        xercesc::XMLString::release(&m);
    }
};

}  // namespace

// Xerces-C's SAX2 parser validating against the DTD that the document's
// DOCTYPE names (written next to it).
std::string run_xerces(const std::string& path) {
    using namespace xercesc;
    std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader());
    XercesHandler handler;
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
    reader->setFeature(XMLUni::fgSAX2CoreValidation, true);
    reader->setFeature(XMLUni::fgXercesDynamic, false);
    reader->setFeature(XMLUni::fgXercesSchema, false);
    reader->setFeature(XMLUni::fgXercesValidationErrorAsFatal, true);
    XMLCh* doc = XMLString::transcode(path.c_str());
    std::string error;
    try {
        reader->parse(doc);
    } catch (const XMLException& e) {
        char* m = XMLString::transcode(e.getMessage());
        error = m;
        XMLString::release(&m);
    } catch (const SAXParseException&) {
    }
    XMLString::release(&doc);
    if (error.empty()) error = handler.first;
    return error;
}
#endif

// ------------------------------------------------------------ tag scanner

// A tag cut by the end of the buffer is moved to the front and read again
// after the refill. The counts keep the work from being optimised away.
namespace {
ScanCounts g_scan;

inline const char* skip_ws(const char* p, const char* e) {
    while (p < e && static_cast<unsigned char>(*p) <= ' ') ++p;
    return p;
}

// Scans one tag whose '<' is at `p`; returns the byte after its '>', or null
// when the buffer ends first.
const char* scan_tag(const char* p, const char* e, ScanCounts& c) {
    ++p;
    if (p >= e) return nullptr;
    if (*p == '/' || *p == '?' || *p == '!') {
        const void* gt = std::memchr(p, '>', static_cast<size_t>(e - p));
        return gt ? static_cast<const char*>(gt) + 1 : nullptr;
    }
    while (p < e && static_cast<unsigned char>(*p) > ' ' && *p != '>' && *p != '/') ++p;  // the name
    ScanCounts here;
    ++here.start_tags;
    for (;;) {
        p = skip_ws(p, e);
        if (p >= e) return nullptr;
        if (*p == '>' || *p == '/') {
            const void* gt = std::memchr(p, '>', static_cast<size_t>(e - p));
            if (!gt) return nullptr;
            c.start_tags += here.start_tags;
            c.attributes += here.attributes;
            c.value_bytes += here.value_bytes;
            return static_cast<const char*>(gt) + 1;
        }
        const void* eq = std::memchr(p, '=', static_cast<size_t>(e - p));
        if (!eq) return nullptr;
        p = skip_ws(static_cast<const char*>(eq) + 1, e);
        if (p >= e) return nullptr;
        char quote = *p++;
        const void* close = std::memchr(p, quote, static_cast<size_t>(e - p));
        if (!close) return nullptr;
        ++here.attributes;
        here.value_bytes += static_cast<uint64_t>(static_cast<const char*>(close) - p);
        p = static_cast<const char*>(close) + 1;
    }
}

}  // namespace

ScanCounts last_scan() { return g_scan; }

std::string run_scanner(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    std::vector<char> buf(kChunk + 4096);
    ScanCounts c;
    size_t kept = 0;  // bytes of an unfinished tag at the front
    for (;;) {
        if (kept == buf.size()) buf.resize(buf.size() * 2);  // a tag longer than the buffer
        size_t n = std::fread(buf.data() + kept, 1, std::min(kChunk, buf.size() - kept), f);
        if (n == 0) break;
        const char* p = buf.data();
        const char* e = buf.data() + kept + n;
        kept = 0;
        for (;;) {
            const void* lt = std::memchr(p, '<', static_cast<size_t>(e - p));
            if (!lt) break;
            const char* next = scan_tag(static_cast<const char*>(lt), e, c);
            if (!next) {
                kept = static_cast<size_t>(e - static_cast<const char*>(lt));
                std::memmove(buf.data(), lt, kept);
                break;
            }
            p = next;
        }
    }
    std::fclose(f);
    g_scan = c;
    return kept ? "the document ends inside a tag" : std::string();
}

// ------------------------------------------------------ structural marks

namespace {

// The bits of the 64 bytes at `p` that equal one of `Chars`: bit i for p[i].
#if defined(__SSE2__)
inline uint64_t equal_bits(const __m128i (&v)[4], char c) {
    const __m128i k = _mm_set1_epi8(c);
    uint64_t bits = 0;
    for (int j = 0; j < 4; ++j)
        bits |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v[j], k)))} << (16 * j);
    return bits;
}

template <char... Chars>
inline uint64_t block_bits(const char* p) {
    __m128i v[4];
    for (int j = 0; j < 4; ++j) v[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
    return (equal_bits(v, Chars) | ...);
}
#else
template <char... Chars>
inline uint64_t block_bits(const char* p) {
    uint64_t bits = 0;
    for (int i = 0; i < 64; ++i) bits |= uint64_t{((p[i] == Chars) || ...)} << i;
    return bits;
}
#endif

// What the walk saw, kept so that it is not optimised away.
struct MarkCounts {
    uint64_t marks = 0, position_sum = 0, lines = 0;
};
MarkCounts g_marks;

}  // namespace

std::string run_marks(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    std::vector<char> buf(kChunk + 64);
    MarkCounts c;
    uint64_t offset = 0;  // of the buffer in the file
    for (;;) {
        const size_t n = std::fread(buf.data(), 1, kChunk, f);
        if (n == 0) break;
        std::memset(buf.data() + n, ' ', 64);  // the last block's tail marks nothing
        for (size_t i = 0; i < n; i += 64) {
            const char* block = buf.data() + i;
            c.lines += static_cast<uint64_t>(std::popcount(block_bits<'\n'>(block)));
            for (uint64_t m = block_bits<'<', '>', '"', '\'', '&'>(block); m != 0; m &= m - 1) {
                ++c.marks;
                c.position_sum += offset + i + static_cast<uint64_t>(std::countr_zero(m));
            }
        }
        offset += n;
    }
    std::fclose(f);
    g_marks = c;
    return c.marks != 0 ? std::string() : "no markup found";
}

namespace {

// The tag scanner's walk over marks: where it stands after a mark.
enum class WalkState { content, after_lt, start_tag, value, other_markup };

ScanCounts g_walk;
uint64_t g_walk_name_bytes = 0;  // kept, like the counts, so that reading names is not optimised away

// After a tag's '<', `p` at the byte after it: an end tag, comment or
// instruction runs to its '>'; a start tag's name is read as the tag
// scanner reads it, and `p` left after it.
WalkState open_tag(const char*& p, ScanCounts& c, uint64_t& name_bytes) {
    if (*p == '/' || *p == '?' || *p == '!') return WalkState::other_markup;
    const char* name = p;
    while (static_cast<unsigned char>(*p) > ' ' && *p != '>' && *p != '/') ++p;  // the padding stops it
    name_bytes += static_cast<uint64_t>(p - name);
    ++c.start_tags;
    return WalkState::start_tag;
}

}  // namespace

ScanCounts last_walk() { return g_walk; }

std::string run_walk(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    std::vector<char> buf(kChunk + 64);
    ScanCounts c;
    uint64_t name_bytes = 0;
    WalkState state = WalkState::content;
    char quote = 0;
    uint64_t offset = 0;       // of the buffer in the file
    uint64_t value_start = 0;  // in the file
    uint64_t name_start = 0;   // in the file: where an attribute's name may begin
    for (;;) {
        const size_t n = std::fread(buf.data(), 1, kChunk, f);
        if (n == 0) break;
        const char* s = buf.data();
        std::memset(buf.data() + n, ' ', 64);  // the last block's tail marks nothing
        if (state == WalkState::after_lt) {    // the last chunk ended with '<'
            const char* p = s;
            state = open_tag(p, c, name_bytes);
            name_start = offset + static_cast<uint64_t>(p - s);
        }
        for (size_t i = 0; i < n; i += 64)
            for (uint64_t m = block_bits<'<', '>', '"', '\'', '='>(s + i); m != 0; m &= m - 1) {
                const size_t at = i + static_cast<size_t>(std::countr_zero(m));
                const char ch = s[at];
                switch (state) {
                    case WalkState::content: {
                        if (ch != '<') break;
                        if (at + 1 == n) {
                            state = WalkState::after_lt;
                            break;
                        }
                        const char* p = s + at + 1;
                        state = open_tag(p, c, name_bytes);
                        name_start = offset + static_cast<uint64_t>(p - s);
                        break;
                    }
                    case WalkState::start_tag:
                        if (ch == '=') {
                            uint64_t from = name_start;  // the name: from there, after whitespace, to the '='
                            if (from >= offset)
                                while (from < offset + at && static_cast<unsigned char>(s[from - offset]) <= ' ') ++from;
                            name_bytes += offset + at - std::min(from, offset + at);
                        } else if (ch == '"' || ch == '\'') {
                            quote = ch;
                            value_start = offset + at + 1;
                            state = WalkState::value;
                        } else if (ch == '>') {
                            state = WalkState::content;
                        }
                        break;
                    case WalkState::value:
                        if (ch != quote) break;
                        ++c.attributes;
                        c.value_bytes += offset + at - value_start;
                        name_start = offset + at + 1;
                        state = WalkState::start_tag;
                        break;
                    case WalkState::other_markup:
                        if (ch == '>') state = WalkState::content;
                        break;
                    case WalkState::after_lt:
                        break;
                }
            }
        offset += n;
    }
    std::fclose(f);
    g_walk = c;
    g_walk_name_bytes = name_bytes;
    return state == WalkState::content ? std::string() : "the document ends inside a tag";
}

}  // namespace tarvo_bench
