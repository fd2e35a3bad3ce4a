// The update feed; see relay_update.h.
#include "relay_update.h"

#include <rapidjson/document.h>

#include "vnl_utf8.h"
#include "vnl_version.h"

namespace relay {

bool ReadUpdateFeed(const std::string& json, const std::wstring& runningVersion, UpdateFeed& feed) {
    feed = UpdateFeed{};
    rapidjson::Document document;
    if (document.Parse(json.c_str(), json.size()).HasParseError() || !document.IsObject()) {
        return false;
    }
    const auto installer = document.FindMember("installer");
    if (installer != document.MemberEnd() && installer->value.IsString()) {
        feed.installerUrl.assign(installer->value.GetString(), installer->value.GetStringLength());
    }
    const auto versions = document.FindMember("versions");
    if (versions == document.MemberEnd() || !versions->value.IsArray()) {
        return true;  // nothing listed: nothing new
    }
    const std::string running = vnl::Utf8FromWide(runningVersion.c_str());
    for (const auto& entry : versions->value.GetArray()) {
        if (!entry.IsObject()) continue;
        const auto version = entry.FindMember("version");
        if (version == entry.MemberEnd() || !version->value.IsString() || version->value.GetStringLength() == 0 ||
            vnl::CompareDottedVersions(version->value.GetString(), running.c_str()) <= 0) {
            continue;
        }
        UpdateVersion news;
        news.version = vnl::WideFromUtf8(version->value.GetString());
        const auto notes = entry.FindMember("notes");
        if (notes != entry.MemberEnd() && notes->value.IsArray()) {
            for (const auto& line : notes->value.GetArray()) {
                if (line.IsString()) news.notes.push_back(vnl::WideFromUtf8(line.GetString()));
            }
        }
        feed.newer.push_back(std::move(news));
    }
    return true;
}

std::wstring InstallerFileName(const std::string& url) {
    const std::string path = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    const bool plain = !name.empty() && name != "." && name != ".." &&
                       name.find_first_of("\\:*?\"<>|%") == std::string::npos && name.size() <= 100;
    return plain ? vnl::WideFromUtf8(name.c_str()) : std::wstring(L"update-setup.exe");
}

}  // namespace relay
