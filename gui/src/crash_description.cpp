// "Crash.json" text; see crash_description.h.
#include "crash_description.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

namespace trv {

std::string WindowsVersionText(unsigned major, unsigned minor, unsigned build, unsigned spMajor, unsigned spMinor) {
    return std::to_string(major) + "." + std::to_string(minor) + " Build " + std::to_string(build) + " Service Pack " +
           std::to_string(spMajor) + "." + std::to_string(spMinor);
}

std::string BuildCrashDescription(const std::string& product, const std::string& version, const std::string& system) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 4);
    writer.StartObject();
    writer.Key("Product");
    writer.String(product.c_str(), static_cast<rapidjson::SizeType>(product.size()));
    writer.Key("Version");
    writer.String(version.c_str(), static_cast<rapidjson::SizeType>(version.size()));
    writer.Key("System");
    writer.String(system.c_str(), static_cast<rapidjson::SizeType>(system.size()));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace trv
