#pragma once
// A fake of the relay's link to the device service and the host, for the native tests of the relay's
// services: it records the requests sent and keeps the answers made, releasing their payloads when cleared
// or destroyed (the sanitizer build checks ownership).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "relay_contacts.h"

namespace trv_test {

using trv::relay::ContactsAnswer;

struct SentRequest {
    std::uint64_t id;
    std::uint32_t code;
    std::string device;
    std::string data;
    std::string json;  // SendJsonRequest's whole JSON text
};

class FakeLink : public trv::relay::ContactsLink {
public:
    ~FakeLink() override { Clear(); }
    void Clear() {
        for (ContactsAnswer& answer : answers) trv::relay::ReleaseContactsAnswer(answer);
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
    void Answer(ContactsAnswer& answer) override {
        answers.push_back(answer);
        answer.extra = nullptr;
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
        for (const ContactsAnswer& answer : answers) codes.push_back(answer.code);
        return codes;
    }

    bool refuse = false;
    std::uint64_t lastId = 0;
    std::vector<SentRequest> requests;
    std::vector<ContactsAnswer> answers;
    std::map<std::wstring, std::string> files;  // by desktop path
};

}  // namespace trv_test
