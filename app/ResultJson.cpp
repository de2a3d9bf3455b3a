#include "app/ResultJson.h"

#include "osh/Text.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <sstream>

namespace app {

namespace {

Poco::JSON::Object::Ptr ComponentJson(const ziz::ComponentRecord& record)
{
    Poco::JSON::Object::Ptr component = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    component->set("file", osh::ToUtf8(record.file));
    component->set("action", std::string(ziz::ComponentActionName(record.action)));
    if (record.hasExitCode) component->set("exitCode", static_cast<Poco::Int64>(record.exitCode));
    if (!record.failedCheck.empty()) component->set("failedCheck", record.failedCheck);
    return component;
}

}  // namespace

std::string ResultJson(const RunFacts& facts)
{
    Poco::JSON::Object result(Poco::JSON_PRESERVE_KEY_ORDER);
    result.set("mode", facts.mode);
    result.set("outcome", facts.outcome);
    result.set("exitCode", facts.exitCode);
    result.set("restartRequired", facts.restartRequired);
    if (!facts.failureReason.empty()) result.set("failureReason", facts.failureReason);
    Poco::JSON::Array::Ptr components = new Poco::JSON::Array;
    for (const ziz::ComponentRecord& record : facts.components) components->add(ComponentJson(record));
    result.set("components", components);
    std::ostringstream text;
    result.stringify(text);
    return text.str();
}

}  // namespace app
