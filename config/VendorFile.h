#pragma once
// Reading of the ".vendor.config" override file (key=value or key: value per line,
// "#" or "!" comment lines, backslash escapes and continuation lines).
#include <Poco/AutoPtr.h>
#include <Poco/Util/MapConfiguration.h>

#include <string>

namespace Norlo {
namespace Config {

// Loads the file at a UTF-8 path, read as Poco's property-file reader reads it. That reader
// accepts any text, so a line without a separator would quietly become a key with an empty
// value; the file is checked first and rejected as a whole instead. Throws
// Poco::OpenFileException when the file cannot be read and Poco::SyntaxException when a
// line is not a key and a value.
Poco::AutoPtr<Poco::Util::MapConfiguration> LoadVendorFile(const std::string& path);

// The keys of a file's text, already checked (CheckVendorFileSyntax).
Poco::AutoPtr<Poco::Util::MapConfiguration> ParseVendorText(const std::string& text);

// The check alone: throws Poco::SyntaxException naming the first bad line.
void CheckVendorFileSyntax(const std::string& text);

}  // namespace Config
}  // namespace Norlo
