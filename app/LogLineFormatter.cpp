#include "app/LogLineFormatter.h"

#include <Poco/Environment.h>
#include <Poco/Exception.h>

namespace app {

namespace {

// Without a computer name the placeholder stays, and Poco asks on every line.
std::string WithThisNodeName(const std::string& pattern)
{
    try {
        return WithNodeName(pattern, Poco::Environment::nodeName());
    } catch (const Poco::Exception&) {
        return pattern;
    }
}

std::string FirstPiece(const std::string& pattern) { return SplitBeforeLiteralBrackets(pattern).front(); }

}  // namespace

std::string WithNodeName(const std::string& pattern, const std::string& nodeName)
{
    std::string escapedName;
    for (char c : nodeName) escapedName += c == '%' ? std::string("%%") : std::string(1, c);
    std::string result;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'N') {
            result += escapedName;
            ++i;
            continue;
        }
        result += pattern[i];
        if (pattern[i] == '%' && i + 1 < pattern.size()) result += pattern[++i];  // "%%" and the rest stay
    }
    return result;
}

std::vector<std::string> SplitBeforeLiteralBrackets(const std::string& pattern)
{
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < pattern.size(); ++i) {
        pieces.back() += pattern[i];
        if (pattern[i] != '%' || i + 1 >= pattern.size()) continue;
        pieces.back() += pattern[++i];
        if (pattern[i] == '[') continue;  // "%[name]": a message property, not a placeholder
        if (i + 1 < pattern.size() && pattern[i + 1] == '[') pieces.emplace_back();
    }
    return pieces;
}

LogLineFormatter::LogLineFormatter(const std::string& pattern)
    : Poco::PatternFormatter(FirstPiece(WithThisNodeName(pattern)))
{
    std::vector<std::string> pieces = SplitBeforeLiteralBrackets(WithThisNodeName(pattern));
    for (size_t i = 1; i < pieces.size(); ++i) pieces_.emplace_back(new Poco::PatternFormatter(pieces[i]));
}

void LogLineFormatter::format(const Poco::Message& message, std::string& text)
{
    Poco::PatternFormatter::format(message, text);
    for (auto& piece : pieces_) piece->format(message, text);
}

void LogLineFormatter::setProperty(const std::string& name, const std::string& value)
{
    Poco::PatternFormatter::setProperty(name, value);
    for (auto& piece : pieces_) piece->setProperty(name, value);
}

}  // namespace app
