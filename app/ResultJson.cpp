#include "app/ResultJson.h"

#include "engine/policy/PolicyRules.h"
#include "osh/Text.h"

namespace app {

namespace {

// A JSON string as Poco's JSON objects wrote it before: control characters, quotes and
// backslashes escaped, everything else (UTF-8 included) as it is. Written here because
// Poco's writer works on C++ streams, which bring the whole C++ locale into the program.
std::string JsonString(const std::string& text)
{
    std::string json = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': json += "\\\""; break;
        case '\\': json += "\\\\"; break;
        case '\n': json += "\\n"; break;
        case '\t': json += "\\t"; break;
        case '\r': json += "\\r"; break;
        case '\b': json += "\\b"; break;
        case '\f': json += "\\f"; break;
        default:
            if (c >= 0 && c < 0x20) {
                static const char kHex[] = "0123456789ABCDEF";
                json += "\\u00";
                json += kHex[c >> 4];
                json += kHex[c & 0xF];
            } else {
                json += c;
            }
        }
    }
    return json + "\"";
}

// Adds "name":value to an object's text; the value is JSON already.
void AddMember(std::string& object, const char* name, const std::string& value)
{
    object += object.size() > 1 ? "," : "";
    object += JsonString(name) + ":" + value;
}

std::string ComponentJson(const ziz::ComponentRecord& record)
{
    std::string component = "{";
    AddMember(component, "file", JsonString(osh::ToUtf8(record.file)));
    AddMember(component, "action", JsonString(ziz::ComponentActionName(record.action)));
    if (record.hasExitCode) AddMember(component, "exitCode", std::to_string(record.exitCode));
    if (!record.failedCheck.empty()) AddMember(component, "failedCheck", JsonString(record.failedCheck));
    if (!record.log.empty()) AddMember(component, "log", JsonString(osh::ToUtf8(record.log)));
    return component + "}";
}

// The number policies stay numbers for the tools that compare them.
std::string PolicyValueJson(const std::string& name, const std::string& value)
{
    for (const ziz::PolicyDefinition& definition : ziz::PolicyTable()) {
        if (osh::ToUtf8(definition.name) == name && definition.type == ziz::PolicyType::Number) return value;
    }
    return JsonString(value);
}

}  // namespace

std::string ResultJson(const RunFacts& facts)
{
    std::string result = "{";
    AddMember(result, "mode", JsonString(facts.mode));
    AddMember(result, "outcome", JsonString(facts.outcome));
    AddMember(result, "exitCode", std::to_string(facts.exitCode));
    AddMember(result, "restartRequired", facts.restartRequired ? "true" : "false");
    if (!facts.failureReason.empty()) AddMember(result, "failureReason", JsonString(facts.failureReason));
    if (!facts.updateDocument.empty()) AddMember(result, "updateDocument", JsonString(facts.updateDocument));
    std::string components = "[";
    for (const ziz::ComponentRecord& record : facts.components) {
        components += components.size() > 1 ? "," : "";
        components += ComponentJson(record);
    }
    AddMember(result, "components", components + "]");
    if (!facts.logFiles.empty()) {
        std::string files = "[";
        for (const std::string& file : facts.logFiles) files += (files.size() > 1 ? "," : "") + JsonString(file);
        AddMember(result, "logFiles", files + "]");
    }
    if (facts.logLinesLost != 0) AddMember(result, "logLinesLost", std::to_string(facts.logLinesLost));
    if (!facts.policies.empty()) {
        std::string policies = "{";
        for (const auto& policy : facts.policies) AddMember(policies, policy.first.c_str(), PolicyValueJson(policy.first, policy.second));
        AddMember(result, "policies", policies + "}");
    }
    return result + "}";
}

}  // namespace app
