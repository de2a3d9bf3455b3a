#pragma once
// How deeply a document's elements nest, found without building the tree. The XML parser
// descends one call per open element, so a document of a few megabytes made of nothing
// but opening tags would exhaust the worker thread's stack; the loader asks this first.
// Free of Windows headers.
#include <cstddef>

// The deepest element nesting the parser would reach in the NUL-terminated text, read
// the way the parser reads it (comments, CDATA, processing instructions, DOCTYPE and
// quoted attribute values skipped; self-closing elements not counted). The scan stops as
// soon as the depth passes limit and then answers limit + 1. Where the text stops being
// well-formed the parser stops too, so the scan ends there with the depth reached so far.
std::size_t XmlNestingDepth(const char* text, std::size_t limit);
