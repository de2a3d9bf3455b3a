#include "config/VendorFile.h"

#include <Poco/Exception.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>

#include <sstream>

namespace Norlo {
namespace Config {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Walks the text the way the property-file reader does and reports the first line it would
// not read as a key and a value.
class SyntaxChecker {
public:
    explicit SyntaxChecker(const std::string& text) : text_(text) {}

    void Check()
    {
        if (text_.find('\0') != std::string::npos) Fail("the file holds binary data");
        while (SkipSpace()) {
            if (Peek() == '#' || Peek() == '!') {
                SkipToLineEnd();
            } else {
                CheckEntry();
            }
        }
    }

private:
    bool AtEnd() const { return position_ >= text_.size(); }
    char Peek() const { return text_[position_]; }

    char Next()
    {
        char c = text_[position_++];
        if (c == '\n') ++line_;
        return c;
    }

    bool SkipSpace()
    {
        while (!AtEnd() && IsSpace(Peek())) Next();
        return !AtEnd();
    }

    void SkipToLineEnd()
    {
        while (!AtEnd() && !IsLineEnd(Peek())) Next();
    }

    void CheckEntry()
    {
        std::string key;
        while (!AtEnd() && Peek() != '=' && Peek() != ':' && !IsLineEnd(Peek())) key += Next();
        if (AtEnd() || IsLineEnd(Peek())) Fail("no '=' or ':' after the key");
        Next();  // the separator
        CheckKey(key);
        SkipValue();
    }

    void CheckKey(const std::string& key)
    {
        size_t last = key.find_last_not_of(" \t\f\v");
        if (last == std::string::npos) Fail("empty key");
        for (size_t i = 0; i <= last; ++i) {
            if (IsSpace(key[i]) || IsControl(key[i])) Fail("blank or control character in the key");
        }
    }

    // A value ends at the first line end that is not escaped by a backslash.
    void SkipValue()
    {
        while (!AtEnd() && !IsLineEnd(Peek())) {
            if (Next() == '\\' && !AtEnd()) {
                char escaped = Next();
                if (escaped == '\r' && !AtEnd() && Peek() == '\n') Next();
            }
        }
    }

    [[noreturn]] void Fail(const std::string& reason) const
    {
        throw Poco::SyntaxException("line " + std::to_string(line_) + " of the override file: " + reason);
    }

    const std::string& text_;
    size_t position_ = 0;
    unsigned line_ = 1;
};

std::string ReadWholeFile(const std::string& path)
{
    Poco::FileInputStream stream(path);
    std::string text;
    Poco::StreamCopier::copyToString(stream, text);
    if (stream.bad()) throw Poco::ReadFileException(path);
    return text;
}

}  // namespace

void CheckVendorFileSyntax(const std::string& text) { SyntaxChecker(text).Check(); }

Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> LoadVendorFile(const std::string& path)
{
    std::string text = ReadWholeFile(path);
    CheckVendorFileSyntax(text);
    std::istringstream stream(text);
    Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> file(new Poco::Util::PropertyFileConfiguration);
    file->load(stream);
    return file;
}

}  // namespace Config
}  // namespace Norlo
