// Requests 100 to 106 (see hlx_module_contact.h).
#include "utility/module/contact/hlx_module_contact.h"

#include <rapidjson/document.h>

#include <functional>
#include <memory>
#include <vector>

#include "utility/hlx_device.h"
#include "utility/hlx_json.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_sync_session.h"
#include "utility/module/contact/hlx_contact_collector.h"

namespace hlx {
namespace {

using ClassAnswer = HLXSyncSession::ClassAnswer;

constexpr char kGroupKeyPrefix[] = "Group/";

// The count reply, then one record reply per batch, all with the count's info text.
void SendList(const FeatureRequest& request, uint32_t command, int64_t count,
              const std::function<void(const ContactRecordSet::BatchSink&)>& batches) {
  const std::string info = CountInfo(count);
  request.SendProgress(command, 0, &info, nullptr);
  batches([&](const std::string& batch) { request.SendProgress(command, 1, &info, &batch); });
}

}  // namespace

int HLXModuleContact::Run(FeatureRequest& request) {
  const uint32_t command = request.Command();
  if (command == kRequestListContacts) return ListContacts(request);
  if (command < kRequestWriteContact || command > kRequestWriteGroupMembers) return kReplySuccess;
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  if (command == kRequestWriteContact) return WriteContact(request, data);
  if (command == kRequestDeleteContact || command == kRequestDeleteGroup) return DeleteContactRecord(request, data);
  return WriteGroup(request, data, command == kRequestWriteGroupMembers);
}

int HLXModuleContact::ListContacts(FeatureRequest& request) {
  AMDeviceRef device = request.Device()->Device();
  auto session = std::make_shared<HLXSyncSession>(kSyncContacts);
  // Every batch must be in before anything is reported (hlx_sync_session.h).
  auto context = std::make_shared<ContactSyncContext>();
  request.HoldUntilAnswered(session);
  request.HoldUntilAnswered(context);
  if (session->ListAll(device, ContactAnswerReader(*context)) != kReplySuccess) {
    return session->Result();
  }

  const size_t contactCount = context->records.ContactCount();
  const ContactRecordSet& records = context->records;
  SendList(request, kRequestListGroups, static_cast<int64_t>(records.GroupCount()),
           [&records](const ContactRecordSet::BatchSink& emit) { records.GroupBatches(kContactReplyBatch, emit); });
  SendList(request, kRequestListContacts, SyncListCount(device, kSyncContacts, contactCount),
           [&records](const ContactRecordSet::BatchSink& emit) { records.ContactBatches(kContactReplyBatch, emit); });
  return kReplySuccess;
}

int HLXModuleContact::WriteContact(const FeatureRequest& request, const rapidjson::Value& data) {
  // Everything the session will send is checked and converted first; a request with a text that
  // does not convert sends nothing and fails, rather than silently dropping that text.
  const rapidjson::Value* contactText = FindStringMember(data, kContactEntity);
  if (contactText == nullptr) return kReplyBadData;
  CFPtr<CFPropertyListRef> contactList = ParseChangesMessage(StringOf(*contactText));
  BinaryPlistPtr contactMessage =
      contactList ? SerializePlist(contactList.get(), kCFPropertyListBinaryFormat_v1_0) : nullptr;
  if (!contactMessage) return kReplyBadData;
  CFPtr<CFPropertyListRef> subLists[kSubRecordEntityCount];
  for (int i = 0; i < kSubRecordEntityCount; ++i) {
    auto member = data.FindMember(kSubRecordEntities[i]);
    if (member == data.MemberEnd()) continue;
    if (!member->value.IsString()) return kReplyBadData;
    subLists[i] = ParseChangesMessage(StringOf(member->value));
    if (!subLists[i] || !ReplaceTextInMessage(subLists[i].get(), "", "")) return kReplyBadData;
  }

  HLXSyncSession session(kSyncContacts);
  if (session.Prepare() != kReplySuccess) return session.Result();
  if (session.Open(request.Device()->Device(), ClassAnswer::kAcceptOne) != kReplySuccess) return session.Result();
  // Contacts answer the change query in two batches; the writes follow the first acknowledgement.
  if (session.ReadChangesWait() != kReplySuccess ||
      session.AcknowledgeWait("SDMessageProcessChanges") != kReplySuccess || session.Ping() != kReplySuccess) {
    return session.Result();
  }
  ContactSyncContext context;
  context.step = ContactStep::kIdMap;
  if (session.Collect(*contactMessage, ContactAnswerReader(context)) != kReplySuccess) return session.Result();
  if (context.remaps[0].empty()) {
    // No id for the contact: the session is left unfinished, so the device drops what it staged.
    return kReplyContactWithoutId;
  }
  // The sub-records name their contact by the id the desktop gave it; they go out with the device's
  // id in its place, replaced as text, never as a pattern: in a regular expression "." would
  // match anything and "(" would throw.
  const std::string& oldId = context.remaps[0].begin()->first;
  const std::string& deviceId = context.remaps[0].begin()->second;
  for (int i = 0; i < kSubRecordEntityCount; ++i) {
    if (!subLists[i]) continue;
    BinaryPlistPtr message = ReplaceTextInMessage(subLists[i].get(), oldId, deviceId);
    if (!message) return session.Fail(kReplyBadData);  // unfinished: nothing is kept
    context.idMap = 1 + static_cast<size_t>(i);
    if (session.Collect(*message, ContactAnswerReader(context)) != kReplySuccess) return session.Result();
  }
  if (session.Finish(ClassAnswer::kWaitForComputer) != kReplySuccess) return session.Result();

  rapidjson::Document reply(rapidjson::kObjectType);
  AddRemapMember(reply, reply.GetAllocator(), context.remaps[0], kContactEntity);
  for (int i = 0; i < kSubRecordEntityCount; ++i) {
    if (!context.remaps[1 + i].empty())
      AddRemapMember(reply, reply.GetAllocator(), context.remaps[1 + i], kSubRecordEntities[i]);
  }
  const std::string text = JsonValueToString(reply);
  request.SendProgress(kRequestWriteContact, 0, nullptr, &text);
  return kReplySuccess;
}

int HLXModuleContact::DeleteContactRecord(const FeatureRequest& request, const rapidjson::Value& data) {
  BinaryPlistPtr deletion = RequestedDeletion(kSyncContacts, data);
  if (!deletion) return kReplyBadData;
  HLXSyncSession session(kSyncContacts);
  if (session.Prepare() != kReplySuccess) return session.Result();
  if (session.OpenForChanges(request.Device()->Device()) != kReplySuccess) return session.Result();
  ContactSyncContext context;
  context.step = ContactStep::kIgnored;
  if (session.Collect(*deletion, ContactAnswerReader(context)) != kReplySuccess) return session.Result();
  return session.Finish(ClassAnswer::kWaitForComputer);
}

int HLXModuleContact::WriteGroup(const FeatureRequest& request, const rapidjson::Value& data, bool withMembers) {
  const rapidjson::Value* id = FindStringMember(data, "id");
  const rapidjson::Value* name = FindStringMember(data, "name");
  const rapidjson::Value* guid = withMembers ? FindStringMember(data, "guid") : id;
  if (id == nullptr || name == nullptr || guid == nullptr) return kReplyBadData;
  std::vector<std::string> members;
  if (withMembers) {
    auto list = data.FindMember("members");
    if (list != data.MemberEnd()) {
      if (!list->value.IsArray()) return kReplyBadData;
      for (const rapidjson::Value& member : list->value.GetArray()) {
        if (!member.IsString()) return kReplyBadData;
        members.push_back(StringOf(member));
      }
    }
  }
  // Built element by element, every text escaped: an id or name holding markup stays text.
  SyncMessageXml xml = BeginRecordChange(kSyncContacts, kGroupKeyPrefix + StringOf(*id), kGroupEntity);
  xml.Key("name").String(StringOf(*name));
  if (withMembers) {
    // Request 106 writes the member list whole, an empty one included: without "members" the
    // device keeps the members unchanged (as for a rename), and a group could never be emptied.
    xml.Key("members").BeginArray();
    for (const std::string& member : members) xml.String(member);
    xml.EndArray();
  }
  BinaryPlistPtr message = EndRecordChange(xml, true, {kContactEntity, kGroupEntity});
  if (!message) return kReplyBadData;

  HLXSyncSession session(kSyncContacts);
  if (session.Prepare() != kReplySuccess) return session.Result();
  if (session.OpenForChanges(request.Device()->Device()) != kReplySuccess) return session.Result();
  ContactSyncContext context;
  context.step = ContactStep::kDeviceIdOfKey;
  context.recordKey = kGroupKeyPrefix + StringOf(*guid);
  if (session.Collect(*message, ContactAnswerReader(context)) != kReplySuccess) return session.Result();
  if (session.Finish(ClassAnswer::kWaitForComputer) != kReplySuccess) return session.Result();
  if (context.deviceId.empty()) return kReplyGroupWithoutId;

  rapidjson::Document reply(rapidjson::kObjectType);
  rapidjson::Value pair(rapidjson::kArrayType);
  pair.PushBack(rapidjson::Value(context.deviceId.c_str(), static_cast<rapidjson::SizeType>(context.deviceId.size()),
                                 reply.GetAllocator()),
                reply.GetAllocator());
  pair.PushBack(rapidjson::Value(name->GetString(), name->GetStringLength(), reply.GetAllocator()),
                reply.GetAllocator());
  reply.AddMember(rapidjson::Value(guid->GetString(), guid->GetStringLength(), reply.GetAllocator()), pair,
                  reply.GetAllocator());
  const std::string text = JsonValueToString(reply);
  request.SendProgress(withMembers ? kRequestWriteGroupMembers : kRequestWriteGroup, 0, nullptr, &text);
  return kReplySuccess;
}

}  // namespace hlx
