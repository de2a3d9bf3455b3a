#include "app/HandBackText.h"

#include "osh/Text.h"

#include <cstdlib>
#include <vector>

namespace app {

namespace {

const char kFirstLine[] = "norlo-handback 1";

std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Unescaped(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        default: out += text[i];
        }
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool ReadNumber(const std::string& text, long& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0';
}

bool ActionNamed(const std::string& name, ziz::ComponentAction& action)
{
    for (const ziz::ComponentAction candidate :
         {ziz::ComponentAction::Reused, ziz::ComponentAction::Copied, ziz::ComponentAction::Downloaded,
          ziz::ComponentAction::Installed, ziz::ComponentAction::Uninstalled, ziz::ComponentAction::Failed}) {
        if (name == ziz::ComponentActionName(candidate)) {
            action = candidate;
            return true;
        }
    }
    return false;
}

std::string ComponentLine(const ziz::ComponentRecord& record)
{
    return std::string(ziz::ComponentActionName(record.action)) + "\t" +
           (record.hasExitCode ? std::to_string(record.exitCode) : "-") + "\t" + Escaped(record.failedCheck) + "\t" +
           Escaped(osh::ToUtf8(record.log)) + "\t" + Escaped(osh::ToUtf8(record.file));
}

// The fields as ComponentLine wrote them (each still escaped).
bool ReadComponent(const std::string& line, ziz::ComponentRecord& record)
{
    const std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() != 5 || !ActionNamed(fields[0], record.action)) return false;
    record.hasExitCode = fields[1] != "-";
    if (record.hasExitCode && !ReadNumber(fields[1], record.exitCode)) return false;
    record.failedCheck = Unescaped(fields[2]);
    record.log = osh::FromUtf8(Unescaped(fields[3]));
    record.file = osh::FromUtf8(Unescaped(fields[4]));
    return !record.file.empty();
}

bool ReadFact(const std::string& name, const std::string& value, RunFacts& facts)
{
    long number = 0;
    if (name == "mode") facts.mode = Unescaped(value);
    else if (name == "outcome") facts.outcome = Unescaped(value);
    else if (name == "exitCode" && ReadNumber(value, number)) facts.exitCode = static_cast<int>(number);
    else if (name == "restartRequired") facts.restartRequired = value == "1";
    else if (name == "failureReason") facts.failureReason = Unescaped(value);
    else if (name == "updateDocument") facts.updateDocument = Unescaped(value);
    else if (name == "logFile") facts.logFiles.push_back(Unescaped(value));
    else if (name == "logLinesLost" && ReadNumber(value, number)) facts.logLinesLost = static_cast<unsigned long>(number);
    else if (name == "component") {
        ziz::ComponentRecord record;
        if (!ReadComponent(value, record)) return false;
        facts.components.push_back(record);
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string HandBackText(const RunFacts& facts)
{
    std::string text = std::string(kFirstLine) + "\n";
    text += "mode=" + Escaped(facts.mode) + "\n";
    text += "outcome=" + Escaped(facts.outcome) + "\n";
    text += "exitCode=" + std::to_string(facts.exitCode) + "\n";
    text += std::string("restartRequired=") + (facts.restartRequired ? "1" : "0") + "\n";
    if (!facts.failureReason.empty()) text += "failureReason=" + Escaped(facts.failureReason) + "\n";
    if (!facts.updateDocument.empty()) text += "updateDocument=" + Escaped(facts.updateDocument) + "\n";
    for (const std::string& file : facts.logFiles) text += "logFile=" + Escaped(file) + "\n";
    if (facts.logLinesLost != 0) text += "logLinesLost=" + std::to_string(facts.logLinesLost) + "\n";
    for (const ziz::ComponentRecord& record : facts.components) text += "component=" + ComponentLine(record) + "\n";
    return text;
}

bool ReadHandBackText(const std::string& text, RunFacts& facts)
{
    std::vector<std::string> lines = Split(text, '\n');
    if (lines.empty() || lines.front() != kFirstLine) return false;
    RunFacts read;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        const std::string::size_type equals = lines[i].find('=');
        if (equals == std::string::npos || !ReadFact(lines[i].substr(0, equals), lines[i].substr(equals + 1), read))
            return false;
    }
    if (read.mode.empty() || read.outcome.empty()) return false;
    facts = read;
    return true;
}

void TakeInHandedBack(const RunFacts& handedBack, RunFacts& facts)
{
    facts.mode = handedBack.mode;
    facts.outcome = handedBack.outcome;
    facts.restartRequired = handedBack.restartRequired;
    facts.failureReason = handedBack.failureReason;
    // The run that did the work read the document last.
    if (!handedBack.updateDocument.empty()) facts.updateDocument = handedBack.updateDocument;
    facts.components = handedBack.components;
    for (const std::string& file : handedBack.logFiles) {
        bool known = false;
        for (const std::string& own : facts.logFiles) known = known || osh::EqualsIgnoreAsciiCase(osh::FromUtf8(own), osh::FromUtf8(file));
        if (!known) facts.logFiles.push_back(file);
    }
    facts.logLinesLost += handedBack.logLinesLost;
}

}  // namespace app
