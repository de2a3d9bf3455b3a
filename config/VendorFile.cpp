#include "config/VendorFile.h"

#include "osh/FileHash.h"
#include "osh/Text.h"

#include <Poco/Exception.h>
#include <Poco/String.h>

#include <exception>

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

// Reads the lines the way Poco's property-file reader does: blank and comment lines
// skipped, key and value trimmed, "\t", "\r", "\n", "\f" and a backslash before a line end
// (which continues the value) understood, any other escaped character taken as it is.
// That reader works on C++ streams, which would bring the whole C++ locale into the program.
class PropertyReader {
public:
    explicit PropertyReader(const std::string& text) : text_(text) {}

    void ReadInto(Poco::Util::MapConfiguration& layer)
    {
        for (int c = Get();; c = Get()) {
            while (c != kEnd && IsSpace(static_cast<char>(c))) c = Get();
            if (c == kEnd) return;
            if (c == '#' || c == '!') {
                while (c != kEnd && c != '\n' && c != '\r') c = Get();
                continue;
            }
            std::string key;
            while (c != kEnd && c != '=' && c != ':' && c != '\r' && c != '\n') {
                key += static_cast<char>(c);
                c = Get();
            }
            std::string value;
            if (c == '=' || c == ':') {
                for (c = ValueChar(); c != kEnd && c != 0; c = ValueChar()) value += static_cast<char>(c);
            }
            layer.setString(Poco::trim(key), Poco::trim(value));
        }
    }

private:
    static constexpr int kEnd = -1;

    int Get() { return position_ < text_.size() ? static_cast<unsigned char>(text_[position_++]) : kEnd; }
    int Peek() const { return position_ < text_.size() ? static_cast<unsigned char>(text_[position_]) : kEnd; }

    // The next character of a value, escapes resolved; 0 at the line's end.
    int ValueChar()
    {
        for (;;) {
            int c = Get();
            if (c == '\n' || c == '\r') return 0;
            if (c != '\\') return c;
            c = Get();
            switch (c) {
            case 't': return '\t';
            case 'r': return '\r';
            case 'n': return '\n';
            case 'f': return '\f';
            case '\r':
                if (Peek() == '\n') Get();
                continue;
            case '\n': continue;
            default: return c;
            }
        }
    }

    const std::string& text_;
    size_t position_ = 0;
};

std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    try {
        osh::ReadFileBlocks(osh::FromUtf8(path), [&text](const unsigned char* data, std::size_t size) {
            text.append(reinterpret_cast<const char*>(data), size);
        });
    } catch (const std::exception&) {
        throw Poco::OpenFileException(path);
    }
    return text;
}

}  // namespace

void CheckVendorFileSyntax(const std::string& text) { SyntaxChecker(text).Check(); }

Poco::AutoPtr<Poco::Util::MapConfiguration> ParseVendorText(const std::string& text)
{
    Poco::AutoPtr<Poco::Util::MapConfiguration> file(new Poco::Util::MapConfiguration);
    PropertyReader(text).ReadInto(*file);
    return file;
}

Poco::AutoPtr<Poco::Util::MapConfiguration> LoadVendorFile(const std::string& path)
{
    std::string text = ReadWholeFile(path);
    CheckVendorFileSyntax(text);
    return ParseVendorText(text);
}

}  // namespace Config
}  // namespace Norlo
