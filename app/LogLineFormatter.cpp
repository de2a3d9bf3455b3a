#include "app/LogLineFormatter.h"

namespace app {

namespace {

std::string FirstPiece(const std::string& pattern) { return SplitBeforeLiteralBrackets(pattern).front(); }

}  // namespace

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

LogLineFormatter::LogLineFormatter(const std::string& pattern) : Poco::PatternFormatter(FirstPiece(pattern))
{
    std::vector<std::string> pieces = SplitBeforeLiteralBrackets(pattern);
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
