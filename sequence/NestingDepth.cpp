#include "sequence/NestingDepth.h"

#include <cstring>

namespace {

// The parser's own character classes.
bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
bool IsNodeNameChar(char c) { return c != '\0' && !IsSpace(c) && c != '/' && c != '>' && c != '?'; }
bool IsAttributeNameChar(char c) { return IsNodeNameChar(c) && c != '<' && c != '=' && c != '!'; }

void SkipSpace(const char*& p)
{
    while (IsSpace(*p)) ++p;
}

bool StartsWith(const char* p, const char* prefix) { return std::strncmp(p, prefix, std::strlen(prefix)) == 0; }

// Moves p behind the first occurrence of terminator; false when the text ends first.
bool SkipPast(const char*& p, const char* terminator)
{
    const char* found = std::strstr(p, terminator);
    if (found == nullptr) return false;
    p = found + std::strlen(terminator);
    return true;
}

// A DOCTYPE runs to the first '>' outside square brackets.
bool SkipDoctype(const char*& p)
{
    while (*p != '>') {
        if (*p == '\0') return false;
        if (*p++ != '[') continue;
        for (int depth = 1; depth > 0; ++p) {
            if (*p == '\0') return false;
            if (*p == '[') ++depth;
            if (*p == ']') --depth;
        }
    }
    ++p;
    return true;
}

// p is behind "<!"; false when the text ends inside the node.
bool SkipDeclaration(const char*& p)
{
    if (StartsWith(p, "--")) {
        p += 2;
        return SkipPast(p, "-->");
    }
    if (StartsWith(p, "[CDATA[")) {
        p += 7;
        return SkipPast(p, "]]>");
    }
    if (StartsWith(p, "DOCTYPE") && IsSpace(p[7])) {
        p += 8;
        return SkipDoctype(p);
    }
    return SkipPast(p, ">");
}

enum class TagEnd { Open, SelfClosed, Malformed };

// p is on the element name; reads name and attributes up to the end of the tag.
TagEnd ReadStartTag(const char*& p)
{
    const char* name = p;
    while (IsNodeNameChar(*p)) ++p;
    if (p == name) return TagEnd::Malformed;
    SkipSpace(p);
    while (IsAttributeNameChar(*p)) {
        while (IsAttributeNameChar(*p)) ++p;
        SkipSpace(p);
        if (*p++ != '=') return TagEnd::Malformed;
        SkipSpace(p);
        const char quote = *p;
        if (quote != '"' && quote != '\'') return TagEnd::Malformed;
        p = std::strchr(p + 1, quote);
        if (p == nullptr) return TagEnd::Malformed;
        ++p;
        SkipSpace(p);
    }
    if (*p == '>') {
        ++p;
        return TagEnd::Open;
    }
    if (p[0] == '/' && p[1] == '>') {
        p += 2;
        return TagEnd::SelfClosed;
    }
    return TagEnd::Malformed;
}

}  // namespace

std::size_t XmlNestingDepth(const char* text, std::size_t limit)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    const char* p = text;
    while (*p != '\0') {
        if (*p++ != '<') continue;  // text between tags
        if (*p == '/') {
            if (depth > 0) --depth;
            if (!SkipPast(p, ">")) break;
        } else if (*p == '?') {
            ++p;  // "<?>" does not end itself
            if (!SkipPast(p, "?>")) break;
        } else if (*p == '!') {
            ++p;
            if (!SkipDeclaration(p)) break;
        } else {
            const TagEnd end = ReadStartTag(p);
            if (end == TagEnd::Malformed) break;
            if (end == TagEnd::Open && ++depth > deepest) {
                deepest = depth;
                if (deepest > limit) return limit + 1;
            }
        }
    }
    return deepest;
}
