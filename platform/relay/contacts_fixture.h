#pragma once
// The relay stand-in's fixture mode for contacts: a JSON fixture of contacts and groups (and the address
// labels' countries) that the stand-in serves as the relay module would serve a device's, answering the
// host's ZERITH_COMMAND_DO_CONTACT requests with the relay's answer codes and payloads: the contacts in
// batches of one sequence, then the groups, then "loading finished"; removals, saves and group changes
// answered as a device would take them. A fixture may refuse the first saves (no answer, as a failed save)
// so that the editor's retry can be exercised.
//
// Answers are posted to a message-only window of the stand-in and delivered from there, so that they
// arrive after the request's call has returned, as the relay module's do. UI thread only.

#include <memory>
#include <string>

#include "command_message.h"

namespace relay {

class ContactsFixture {
public:
    // Reads the fixture; null (and a line on standard error) when the file is missing or malformed.
    static std::unique_ptr<ContactsFixture> Load(const std::wstring& path, ModuleRecord* record);
    virtual ~ContactsFixture() = default;

    // A ZERITH_COMMAND_DO_CONTACT request of the host; takes over the payloads the request hands over.
    virtual void Handle(CommandMessage& message) = 0;
};

}  // namespace relay
