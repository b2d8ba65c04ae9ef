// The tarvo extension module: one source for Python 2.7 and Python 3.6+.
// Its functions and how it is made; binding.h says where each part lives.
#include "binding.h"

namespace tarvo::py {
namespace {

const char kModuleDoc[] =
    "Validating XML reader over grammars built in or loaded at run time.\n"
    "\n"
    "parse() reads a document file, parse_bytes() one held in memory,\n"
    "parse_socket_stream() documents sent back to back over a socket. Each checks\n"
    "the document against a grammar, built in or loaded, calls the callables\n"
    "registered for its elements, and returns the warning text or raises\n"
    "ParseError, whose diagnostics are Diagnostic records. The PARSE_* flags\n"
    "tolerate wrong or unknown attributes and misplaced elements. grammars() and\n"
    "grammar_info() show the grammars; load_grammar() adds one from a grammar file,\n"
    "load_dtd() one from a DTD, unload_grammar() drops one. validate() checks a\n"
    "document and returns a Report instead of raising, validate_many() many\n"
    "documents on threads; given no grammar, each document's own, which\n"
    "detect_grammar() tells from its head. position() tells a callback where the\n"
    "reader stands.";

PyMethodDef g_methods[] = {
    {"parse", keywords_function(parse_file_entry), METH_VARARGS | METH_KEYWORDS, kParseDoc},
    {"parse_file", keywords_function(parse_file_entry), METH_VARARGS | METH_KEYWORDS, kParseFileDoc},
    {"parse_bytes", keywords_function(parse_bytes_entry), METH_VARARGS | METH_KEYWORDS, kBytesDoc},
    {"parse_socket_stream", keywords_function(parse_socket_stream_entry), METH_VARARGS | METH_KEYWORDS, kSocketDoc},
    {"grammars", grammars_entry, METH_NOARGS, kGrammarsDoc},
    {"grammar_info", keywords_function(grammar_info_entry), METH_VARARGS | METH_KEYWORDS, kGrammarInfoDoc},
    {"load_grammar", keywords_function(load_grammar_entry), METH_VARARGS | METH_KEYWORDS, kLoadGrammarDoc},
    {"load_dtd", keywords_function(load_dtd_entry), METH_VARARGS | METH_KEYWORDS, kLoadDtdDoc},
    {"unload_grammar", keywords_function(unload_grammar_entry), METH_VARARGS | METH_KEYWORDS, kUnloadGrammarDoc},
    {"validate", keywords_function(validate_entry), METH_VARARGS | METH_KEYWORDS, kValidateDoc},
    {"validate_many", keywords_function(validate_many_entry), METH_VARARGS | METH_KEYWORDS, kValidateManyDoc},
    {"detect_grammar", keywords_function(detect_grammar_entry), METH_VARARGS | METH_KEYWORDS, kDetectGrammarDoc},
    {"position", position_entry, METH_NOARGS, kPositionDoc},
    {"_unreadable", rebuild_unreadable_entry, METH_VARARGS, nullptr},
#ifdef TARVO_BYTEWISE_SOCKET_READER
    {"_parse_socket_stream_bytewise", keywords_function(parse_socket_stream_bytewise_entry),
     METH_VARARGS | METH_KEYWORDS, nullptr},
#endif
    {nullptr, nullptr, 0, nullptr},
};

// Fills a new module; false with an exception set on failure.
bool init_module(PyObject* module) {
    return add_error_types(module) && add_detect_types(module) && PyModule_AddStringConstant(module, "__version__", version()) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_STRICT", static_cast<long>(Flags::strict)) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_IGNORE_WRONG_ATTRIBUTES",
                                   static_cast<long>(Flags::ignore_wrong_attributes)) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_IGNORE_UNKNOWN_ATTRIBUTES",
                                   static_cast<long>(Flags::ignore_unknown_attributes)) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_IGNORE_WRONG_ELEMENTS",
                                   static_cast<long>(Flags::ignore_wrong_elements)) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_XML", static_cast<long>(Flags::xml)) == 0;
}

#if TARVO_PY3
PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "tarvo", kModuleDoc, -1, g_methods, nullptr, nullptr, nullptr, nullptr,
};
#endif

}  // namespace
}  // namespace tarvo::py

#pragma GCC visibility push(default)
#if TARVO_PY3
PyMODINIT_FUNC PyInit_tarvo(void) {
    PyObject* module = PyModule_Create(&tarvo::py::g_module);
    if (!module) return nullptr;
    if (!tarvo::py::init_module(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
#else
PyMODINIT_FUNC inittarvo(void) {
    // Py_InitModule4 is Py_InitModule4_64 on 64-bit builds.
    PyObject* module = Py_InitModule4("tarvo", tarvo::py::g_methods, const_cast<char*>(tarvo::py::kModuleDoc), nullptr,
                                      PYTHON_API_VERSION);
    if (!module) return;
    tarvo::py::init_module(module);
}
#endif
#pragma GCC visibility pop
