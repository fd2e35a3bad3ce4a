#pragma once
// A fake of the relay's link to the device service and the host, for the native tests of the relay's
// features: it records the requests sent and keeps the answers made, releasing their payloads when cleared
// or destroyed (the sanitizer build checks ownership).

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "relay_backups.h"
#include "relay_feature.h"

namespace trv::test {

using relay::RelayAnswer;

struct SentRequest {
    std::uint64_t id;
    std::uint32_t code;
    std::string device;
    std::string data;
    std::string json;  // SendJsonRequest's whole JSON text
};

class FakeLink : public relay::RelayLink {
public:
    ~FakeLink() override { Clear(); }
    void Clear() {
        for (RelayAnswer& answer : answers) relay::ReleaseRelayAnswer(answer);
        answers.clear();
    }
    std::uint64_t SendRequest(std::uint32_t code, const std::string& device, const std::string& data) override {
        if (refuse) return 0;
        requests.push_back({++lastId, code, device, data, ""});
        return lastId;
    }
    std::uint64_t SendJsonRequest(std::uint32_t code, const std::string& json) override {
        if (refuse) return 0;
        requests.push_back({++lastId, code, "", "", json});
        return lastId;
    }
    void Answer(RelayAnswer& answer) override {
        answers.push_back(answer);
        answer.payload = nullptr;
    }
    bool WriteNewFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) override {
        return files.emplace(folder + L"\\" + name, bytes).second;
    }
    bool ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) override {
        auto it = files.find(path);
        if (it == files.end() || it->second.size() > limitBytes) return false;
        bytes = it->second;
        return true;
    }
    std::vector<std::int64_t> Codes() const {
        std::vector<std::int64_t> codes;
        for (const RelayAnswer& answer : answers) codes.push_back(answer.code);
        return codes;
    }

    bool refuse = false;
    std::uint64_t lastId = 0;
    std::vector<SentRequest> requests;
    std::vector<RelayAnswer> answers;
    std::map<std::wstring, std::string> files;  // by desktop path
};

// The desktop's backup folders as a set of paths, for the relay's backup requests.
struct FakeBackupFiles : relay::BackupFiles {
    bool DeleteBackupFolder(const std::wstring& path) override { return folders.erase(path) == 1; }
    std::wstring DefaultBackupFolder() override { return L"Z:\\cfg\\Backup\\"; }
    std::set<std::wstring> folders{L"Z:\\b\\one\\", L"Z:\\b\\two\\"};
};

}  // namespace trv::test
