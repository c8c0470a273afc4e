// udra-qosd report: one self-contained HTML page (tables and inline SVG
// charts, no scripts, nothing fetched) from a store that --db filled.
#pragma once

#include <string>

namespace qosd {

// Reads `dbPath` (opened read-only) and writes the page to `htmlPath`; false
// with a message in `error`.
bool WriteHtmlReport(const std::string& dbPath, const std::string& htmlPath, std::string& error);

// `text` with &, <, >, " and ' escaped.
std::string HtmlEscape(const std::string& text);

}  // namespace qosd
