// Sentences for people from a filter run's status codes: made once, at the host boundary, from
// one table, so that every host says the same thing for the same failure.
#pragma once

#include <cstdint>
#include <string>

namespace hostkit {

// "out of memory", "disk full", … for a status code; "error" for codes the table lacks.
std::string StatusName(int16_t status);

// The selector's name ("start", "continue", …), or "selector N".
std::string SelectorName(int16_t selector);

// One line for a failed run, for example "filter failed while running: out of memory (-108)".
std::string DescribeFailure(int16_t status, int16_t selector);

// `text` made safe for one line on a terminal: control characters (line breaks, escape
// sequences) and bytes that are not UTF-8 become \xNN; valid UTF-8 stays as it is. Every
// message that may carry a file name or a file's contents passes through it before it is shown.
std::string OneLine(const std::string& text);

}  // namespace hostkit
