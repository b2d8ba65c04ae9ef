// The wording of what the checks refuse. The parse loop files these texts;
// the checks themselves only say what they refused (see check/).
#pragma once

#include <string_view>
#include <vector>

#include "check/attributes.h"
#include "check/content_model.h"
#include "containers/str_buf.h"
#include "diag/report.h"
#include "schema/schema_table.h"

namespace tarvo {

// The message of a content-model refusal, and its record's details. The
// expected names go to `names`, which must outlive the details' use.
void word_refusal(const SchemaTable& table, const ContentRefusal& refusal, StrBuf& out);
Details refusal_details(const SchemaTable& table, const ContentRefusal& refusal, std::vector<std::string_view>& names);

// The message of an attribute problem of element `e`; `tolerated` says the
// parse goes on (a wrong value then takes the default), and its details.
void word_attribute_problem(const ElementRule& e, const AttributeProblem& problem, bool tolerated, StrBuf& out);
Details attribute_details(const ElementRule& e, const AttributeProblem& problem, std::vector<std::string_view>& values);

}  // namespace tarvo
