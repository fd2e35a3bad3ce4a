// The synchronisation service "com.apple.mobilesync" as a computer sees it on the wire: the
// greeting and the class choice, listings in the image's batch size and entity order, the "no
// changes" ritual before writes, staged changes that commit at the end of a session and vanish
// without it, deletions that cascade, ids never handed out twice, and the image's failure switches.
// What the device sent and what its address book holds afterwards are checked with Python's
// plistlib, which reads the device's binary frames and the image on its own.
#include <filesystem>
#include <fstream>
#include <future>
#include <map>

#include "md_test_support.h"

namespace {

using namespace md::test;

constexpr char kClass[] = "com.apple.Contacts";

std::string Plist(const std::string& arrayBody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><array>" +
         arrayBody + "</array></plist>";
}

std::string S(const std::string& text) { return "<string>" + text + "</string>"; }

std::string Simple(const std::string& name) { return Plist(S(name) + S(kClass)); }

// A computer's change message: {key: record} in the dictionary's XML.
std::string Changes(const std::string& dictBody) {
  return Plist(S("SDMessageProcessChanges") + S(kClass) + "<dict>" + dictBody + "</dict>");
}

std::string Record(const std::string& key, const std::string& entity, const std::string& fields) {
  return "<key>" + key + "</key><dict><key>com.apple.syncservices.RecordEntityName</key>" + S(entity) + fields +
         "</dict>";
}

std::string Deletion(const std::string& key) { return "<key>" + key + "</key>" + S("___EmptyParameterString___"); }

std::string Refs(const std::string& field, const std::vector<std::string>& ids) {
  std::string text = "<key>" + field + "</key><array>";
  for (const std::string& id : ids) text += S(id);
  return text + "</array>";
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Python with the tools folder importable and the address-book helpers at hand.
std::string PythonWithTools(const std::string& code) {
  return Python("import sys, json, plistlib, glob, datetime\nsys.path.insert(0, " + Quote(HLX_TOOLS_DIR) +
                ")\nimport make_address_book as ab\n" + code);
}

// The computer's end of one "com.apple.mobilesync" connection.
class SyncPeer {
 public:
  SyncPeer(AMDeviceRef device, std::string framesFolder = "")
      : m_service(device, "com.apple.mobilesync"), m_frames(std::move(framesFolder)) {}

  int Result() const { return m_service.Result(); }

  bool Send(const std::string& xml) { return SendFrame(m_service.Get(), xml); }

  // The next message; null at the end of the stream. Frames are also kept as files when asked.
  CFHolder Receive() {
    unsigned char word[4];
    if (!ReceiveExact(m_service.Get(), word, sizeof word)) return nullptr;
    const size_t length = (size_t{word[0]} << 24) | (size_t{word[1]} << 16) | (size_t{word[2]} << 8) | word[3];
    std::string body(length, '\0');
    if (length > 0 && !ReceiveExact(m_service.Get(), &body[0], length)) return nullptr;
    if (!m_frames.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "/%04d.bin", ++m_frameCount);
      WriteText(m_frames + name, body);
    }
    return CFHolder(HLXCFPropertyListCreateFromBytes(body.data(), body.size(), kCFPropertyListImmutable, nullptr));
  }

  // The name of the next message ("" when the stream ended or it is not a message).
  std::string ReceiveName(CFHolder* keep = nullptr) {
    CFHolder message = Receive();
    std::string name = NameOf(message.get());
    if (keep != nullptr) *keep = std::move(message);
    return name;
  }

  static std::string NameOf(CFTypeRef message) {
    if (message == nullptr || CFGetTypeID(message) != kHLXCFArrayTypeID ||
        CFArrayGetCount(static_cast<CFArrayRef>(message)) < 1) {
      return "";
    }
    return Text(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(message), 0));
  }

  // Greeting, version exchange and the class; the name of the device's answer to the class.
  std::string Open(const std::string& className = kClass) {
    if (ReceiveName() != "DLMessageVersionExchange") return "no greeting";
    Send(Plist(S("DLMessageVersionExchange") + S("DLVersionsOk") + "<integer>100</integer>"));
    if (ReceiveName() != "DLMessageDeviceReady") return "not ready";
    Send(Plist(S("SDMessageSyncDataClassWithDevice") + S(className) + S("Contacts-Device-Anchor") +
               S("2016-03-07 09:05:30 +0800") + "<integer>106</integer>" + S("___EmptyParameterString___")));
    return ReceiveName();
  }

  // Sends changes; the device's remap map (sent key -> device id), or nullopt-like empty with ok false.
  bool Stage(const std::string& changes, std::map<std::string, std::string>* remap) {
    Send(changes);
    CFHolder answer;
    if (ReceiveName(&answer) != "SDMessageRemapRecordIdentifiers") return false;
    CFTypeRef map = CFArrayGetValueAtIndex(static_cast<CFArrayRef>(answer.get()), 2);
    if (map == nullptr || CFGetTypeID(map) != kHLXCFDictionaryTypeID) return false;
    const CFIndex count = CFDictionaryGetCount(static_cast<CFDictionaryRef>(map));
    std::vector<const void*> keys(static_cast<size_t>(count));
    std::vector<const void*> values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(static_cast<CFDictionaryRef>(map), keys.data(), values.data());
    remap->clear();
    for (size_t i = 0; i < keys.size(); ++i) (*remap)[Text(keys[i])] = Text(values[i]);
    return true;
  }

  std::string Finish() {
    Send(Simple("SDMessageFinishSessionOnDevice"));
    return ReceiveName();
  }

 private:
  ServiceHolder m_service;
  std::string m_frames;
  int m_frameCount = 0;
};

class MDMobileSync : public DeviceRootTest {
 protected:
  // An attached device with a session, its image folder and a frames folder.
  AMDeviceRef Device(const std::string& udid, const std::vector<std::string>& makerArgs = {}) {
    AMDeviceRef device = AttachAndWait(udid, makerArgs);
    if (device != nullptr) m_sessions.push_back(std::make_unique<SessionHolder>(device));
    return device;
  }
  std::string Book(const std::string& udid) { return ReadBytes(ImagePath(udid) + "/addressbook.plist"); }
  void Settings(const std::string& udid, const std::string& json) { WriteText(ImagePath(udid) + "/sync.json", json); }
  std::string Frames(const std::string& name) {
    std::string folder = m_temp->path().string() + "/" + name;
    std::filesystem::create_directories(folder);
    return folder;
  }

  std::vector<std::unique_ptr<SessionHolder>> m_sessions;
};

TEST_F(MDMobileSync, ListsEveryRecordOnceInTheImagesBatchSizeAndEntityOrder) {
  AMDeviceRef device = Device("SYNC-LIST", {"--contacts", "30", "--contact-groups", "3"});
  ASSERT_NE(device, nullptr);
  Settings("SYNC-LIST",
           R"({"batchRecords": 7, "entityOrder": {"com.apple.Contacts": ["com.apple.contacts.Phone Number"]}})");
  const std::string frames = Frames("list");
  SyncPeer peer(device, frames);
  ASSERT_EQ(peer.Result(), 0);
  ASSERT_EQ(peer.Open(), "SDMessageSyncDataClassWithComputer");
  ASSERT_TRUE(peer.Send(Simple("SDMessageGetAllRecordsFromDevice")));
  std::string name;
  int batches = 0;
  while ((name = peer.ReceiveName()) == "SDMessageProcessChanges") {
    ++batches;
    ASSERT_LT(batches, 1000);
    ASSERT_TRUE(peer.Send(Simple("SDMessageAcknowledgeChangesFromDevice")));
  }
  EXPECT_EQ(name, "SDMessageDeviceReadyToReceiveChanges");
  EXPECT_EQ(peer.Finish(), "SDMessageDeviceFinishedSession");

  // Python reads the frames the device sent and the image's book, each on its own.
  // clang-format off
  EXPECT_EQ(PythonWithTools(
                "book = ab.read_address_book(" + Quote(ImagePath("SYNC-LIST")) + ")['records']\n"
                "frames = [plistlib.loads(open(f, 'rb').read()) for f in sorted(glob.glob(" + Quote(frames) + " + '/*.bin'))]\n"
                "batches = [f for f in frames if f[0] == 'SDMessageProcessChanges']\n"
                "assert all(b[1] == 'com.apple.Contacts' for b in batches)\n"
                "assert [len(b[2]) for b in batches[:-1]] == [7] * (len(batches) - 1), [len(b[2]) for b in batches]\n"
                "assert 1 <= len(batches[-1][2]) <= 7\n"
                "assert [b[3] for b in batches] == [True] * (len(batches) - 1) + [False]\n"
                "entities = ['com.apple.contacts.Phone Number', 'com.apple.contacts.Contact', 'com.apple.contacts.Group',\n"
                "            'com.apple.contacts.Email Address', 'com.apple.contacts.Street Address', 'com.apple.contacts.URL',\n"
                "            'com.apple.contacts.Related Name', 'com.apple.contacts.IM', 'com.apple.contacts.Date']\n"
                "rank = lambda i: (entities.index(book[i]['com.apple.syncservices.RecordEntityName']), int(i))\n"
                "got = {}\n"
                "order = []\n"
                "# A batch is a dictionary: its own order means nothing, the order across batches does.\n"
                "for b in batches:\n"
                "    for rid in sorted(b[2], key=rank):\n"
                "        assert rid not in got, rid\n"
                "        got[rid] = b[2][rid]\n"
                "        order.append(rid)\n"
                "assert got == book, set(got) ^ set(book)\n"
                "assert order == sorted(book, key=rank)\n"
                "assert any(isinstance(r.get('birthday'), datetime.datetime) for r in got.values())\n"
                "assert any(isinstance(r.get('image'), bytes) for r in got.values())\n"
                "print(len(batches), len(got))\n"),
            std::to_string(batches) + " " +
                PythonWithTools("print(len(ab.read_address_book(" + Quote(ImagePath("SYNC-LIST")) + ")['records']))"));
  // clang-format on
}

TEST_F(MDMobileSync, ChangesCommitAtFinishWithReferencesResolvedToDeviceIds) {
  AMDeviceRef device = Device("SYNC-WRITE", {"--contacts", "12"});
  ASSERT_NE(device, nullptr);
  const std::string before = Book("SYNC-WRITE");
  SyncPeer peer(device);
  ASSERT_EQ(peer.Open(), "SDMessageSyncDataClassWithComputer");
  // The change ritual: two empty batches for contacts, then the device is ready.
  ASSERT_TRUE(peer.Send(Simple("SDMessageGetChangesFromDevice")));
  ASSERT_EQ(peer.ReceiveName(), "SDMessageProcessChanges");
  ASSERT_TRUE(peer.Send(Simple("SDMessageAcknowledgeChangesFromDevice")));
  ASSERT_EQ(peer.ReceiveName(), "SDMessageProcessChanges");
  ASSERT_TRUE(peer.Send(Plist(S("DLMessagePing") + S(kClass))));  // never answered

  // A new contact and a phone number that names it by the computer's key, in one message; the phone
  // number's key sorts before the contact's.
  std::map<std::string, std::string> remap;
  ASSERT_TRUE(peer.Stage(
      Changes(Record("z-contact", "com.apple.contacts.Contact", "<key>first name</key>" + S("Nia &amp; Co")) +
              Record("a-phone", "com.apple.contacts.Phone Number",
                     Refs("contact", {"z-contact"}) + "<key>value</key>" + S("+1 555 0100"))),
      &remap));
  ASSERT_EQ(remap.size(), 2u);
  const std::string contactId = remap["z-contact"];
  EXPECT_NE(contactId, "");
  EXPECT_NE(remap["a-phone"], contactId);
  // Later messages name it by the key remapped earlier, or by the device id; a reference to nothing
  // leaves an owned record without owner, which the device does not keep. Contact 1 is edited.
  ASSERT_TRUE(
      peer.Stage(Changes(Record("mail", "com.apple.contacts.Email Address",
                                Refs("contact", {"z-contact", "no-such"}) + "<key>value</key>" + S("nia@example.com")) +
                         Record("orphan", "com.apple.contacts.URL", Refs("contact", {"no-such"})) +
                         Record("1", "com.apple.contacts.Contact", "<key>first name</key>" + S("Edited"))),
                 &remap));
  EXPECT_EQ(remap["1"], "1") << "a record the device has keeps its id";
  EXPECT_EQ(Book("SYNC-WRITE"), before) << "nothing is written before the session finishes";
  ASSERT_EQ(peer.Finish(), "SDMessageDeviceFinishedSession");

  // clang-format off
  EXPECT_EQ(PythonWithTools(
                "book = ab.read_address_book(" + Quote(ImagePath("SYNC-WRITE")) + ")\n"
                "r = book['records']\n"
                "c = " + Quote(contactId) + "\n"
                "assert r[c] == {'com.apple.syncservices.RecordEntityName': 'com.apple.contacts.Contact', 'first name': 'Nia & Co'}, r[c]\n"
                "phones = [i for i, x in r.items() if x.get('value') == '+1 555 0100']\n"
                "mails = [i for i, x in r.items() if x.get('value') == 'nia@example.com']\n"
                "assert len(phones) == 1 and r[phones[0]]['contact'] == [c]\n"
                "assert len(mails) == 1 and r[mails[0]]['contact'] == [c], r[mails[0]]\n"
                "assert not any(x.get('com.apple.syncservices.RecordEntityName') == 'com.apple.contacts.URL' and x.get('contact') == [] for x in r.values())\n"
                "assert r['1'] == {'com.apple.syncservices.RecordEntityName': 'com.apple.contacts.Contact', 'first name': 'Edited'}\n"
                "new = [int(i) for i in (c, phones[0], mails[0])]\n"
                "assert book['nextRecordId'] > max(new) and min(new) >= 12, (new, book['nextRecordId'])\n"
                "print('ok')\n"),
            "ok");
  // clang-format on
}

TEST_F(MDMobileSync, ASessionThatEndsWithoutFinishingChangesNothingAndItsIdsAreNotReused) {
  AMDeviceRef device = Device("SYNC-DROP", {"--contacts", "3"});
  ASSERT_NE(device, nullptr);
  const std::string before = Book("SYNC-DROP");
  std::string droppedId;
  {
    SyncPeer peer(device);
    ASSERT_EQ(peer.Open(), "SDMessageSyncDataClassWithComputer");
    std::map<std::string, std::string> remap;
    ASSERT_TRUE(peer.Stage(Changes(Record("new", "com.apple.contacts.Contact", "") + Deletion("1")), &remap));
    droppedId = remap["new"];
  }  // the connection closes here, unfinished
  SyncPeer peer(device);
  ASSERT_EQ(peer.Open(), "SDMessageSyncDataClassWithComputer");
  EXPECT_EQ(Book("SYNC-DROP"), before);
  std::map<std::string, std::string> remap;
  ASSERT_TRUE(peer.Stage(Changes(Record("new", "com.apple.contacts.Contact", "")), &remap));
  EXPECT_GT(std::stoll(remap["new"]), std::stoll(droppedId)) << "an id handed out once is never handed out again";
  ASSERT_EQ(peer.Finish(), "SDMessageDeviceFinishedSession");
  // clang-format off
  EXPECT_EQ(PythonWithTools("r = ab.read_address_book(" + Quote(ImagePath("SYNC-DROP")) + ")['records']\n"
                            "print(" + Quote(droppedId) + " in r, " + Quote(remap["new"]) + " in r, '1' in r)"),
            "False True True");
  // clang-format on
}

// Each deletion is applied to a fresh copy of the same image; Python works out what the book must
// hold afterwards from the book before, with rules of its own.
TEST_F(MDMobileSync, DeletionsTakeAContactsOwnSubRecordsAndMembershipsAndNothingElse) {
  struct Case {
    const char* udid;
    std::string key;  // a Python expression giving the key to delete from the book `b`
  };
  // clang-format off
  const std::vector<Case> cases = {
      // A contact that shares a sub-record with another contact; one that belongs to a group.
      {"DEL-SHARING", "next(c for c in b if any(c in x.get('contact', []) and len(x['contact']) == 2 for x in b.values()))"},
      {"DEL-MEMBER", "next(c for c in b if any(c in x.get('members', []) for x in b.values()))"},
      {"DEL-GROUP", "'Group/' + next(i for i, x in b.items() if x.get('members'))"},
      {"DEL-GROUPKEY-ON-CONTACT", "'Group/1'"},
      {"DEL-UNKNOWN", "'99999'"},
      {"DEL-MARKUP", "'1</key><string>x'"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.udid);
    AMDeviceRef device = Device(c.udid, {"--contacts", "60", "--contact-groups", "4", "--seed", "5"});
    ASSERT_NE(device, nullptr);
    const std::string image = ImagePath(c.udid);
    const std::string key =
        PythonWithTools("b = ab.read_address_book(" + Quote(image) + ")['records']\nprint(" + c.key + ")");
    ASSERT_FALSE(key.empty());
    // clang-format off
    const std::string expected = PythonWithTools(
        "b = ab.read_address_book(" + Quote(image) + ")['records']\n"
        "key = " + Quote(key) + "\n"
        "rid = key[6:] if key.startswith('Group/') else key\n"
        "if rid in b and not (key.startswith('Group/') and b[rid]['com.apple.syncservices.RecordEntityName'] != 'com.apple.contacts.Group'):\n"
        "    del b[rid]\n"
        "    for i in list(b):\n"
        "        x = b[i]\n"
        "        for field in ('contact', 'members'):\n"
        "            if rid in x.get(field, []):\n"
        "                x[field] = [m for m in x[field] if m != rid]\n"
        "                if field == 'contact' and not x[field]:\n"
        "                    del b[i]\n"
        "print(json.dumps(sorted(b), separators=(',', ':')))\n");
    // clang-format on
    SyncPeer peer(device);
    ASSERT_EQ(peer.Open(), "SDMessageSyncDataClassWithComputer");
    // The key goes into the XML escaped, as a computer must send it.
    std::string escaped;
    for (char ch : key) escaped += ch == '<' ? "&lt;" : ch == '>' ? "&gt;" : ch == '&' ? "&amp;" : std::string(1, ch);
    std::map<std::string, std::string> remap;
    ASSERT_TRUE(peer.Stage(Changes(Deletion(escaped)), &remap));
    EXPECT_TRUE(remap.empty()) << "deletions are not remapped";
    ASSERT_EQ(peer.Finish(), "SDMessageDeviceFinishedSession");
    // clang-format off
    EXPECT_EQ(PythonWithTools("b = ab.read_address_book(" + Quote(image) + ")['records']\n"
                              "print(json.dumps(sorted(b), separators=(',', ':')))\n"),
              expected);
    EXPECT_EQ(PythonWithTools(
                  "b = ab.read_address_book(" + Quote(image) + ")['records']\n"
                  "ok = all(m in b for x in b.values() for m in x.get('contact', []) + x.get('members', []))\n"
                  "print(ok and all(x['contact'] for x in b.values() if 'contact' in x))"),
              "True") << "no reference is left dangling";
    // clang-format on
  }
}

TEST_F(MDMobileSync, GroupWritesByGroupKeyRenameKeepsMembersAndAnEmptyListClearsThem) {
  AMDeviceRef device = Device("SYNC-GROUP", {"--contacts", "20", "--contact-groups", "2", "--seed", "2"});
  ASSERT_NE(device, nullptr);
  const std::string image = ImagePath("SYNC-GROUP");
  // clang-format off
  const std::string group = PythonWithTools("b = ab.read_address_book(" + Quote(image) + ")['records']\n"
                                            "print(next(i for i, x in b.items() if x.get('members')))");
  // clang-format on
  SyncPeer peer(device);
  ASSERT_EQ(peer.Open(), "SDMessageSyncDataClassWithComputer");
  std::map<std::string, std::string> remap;
  // A rename by "Group/<id>", a new group with members (one unknown), an emptied group.
  ASSERT_TRUE(peer.Stage(
      Changes(Record("Group/" + group, "com.apple.contacts.Group", "<key>name</key>" + S("Renamed &amp; &lt;ok&gt;")) +
              Record("Group/fresh", "com.apple.contacts.Group",
                     "<key>name</key>" + S("Fresh") + Refs("members", {"2", "nobody", "1"}))),
      &remap));
  EXPECT_EQ(remap["Group/" + group], group);
  const std::string fresh = remap["Group/fresh"];
  ASSERT_FALSE(fresh.empty());
  EXPECT_NE(fresh, group);
  ASSERT_EQ(peer.Finish(), "SDMessageDeviceFinishedSession");
  // clang-format off
  const std::string check =
      "b = ab.read_address_book(" + Quote(image) + ")['records']\n"
      "g, f = b[" + Quote(group) + "], b[" + Quote(fresh) + "]\n"
      "print(g['name'], len(g['members']) > 0, f['name'], f['members'])";
  // clang-format on
  EXPECT_EQ(PythonWithTools(check), "Renamed & <ok> True Fresh ['2', '1']");

  SyncPeer again(device);
  ASSERT_EQ(again.Open(), "SDMessageSyncDataClassWithComputer");
  ASSERT_TRUE(again.Stage(Changes(Record("Group/" + group, "com.apple.contacts.Group",
                                         "<key>name</key>" + S("Empty") + "<key>members</key><array/>")),
                          &remap));
  ASSERT_EQ(again.Finish(), "SDMessageDeviceFinishedSession");
  // clang-format off
  EXPECT_EQ(PythonWithTools("b = ab.read_address_book(" + Quote(image) + ")['records']\n"
                            "print(b[" + Quote(group) + "])"),
            "{'com.apple.syncservices.RecordEntityName': 'com.apple.contacts.Group', 'members': [], 'name': 'Empty'}");
  // clang-format on
}

TEST_F(MDMobileSync, TheImagesSwitchesRefuseCancelDropAndRemapNothing) {
  struct Case {
    const char* udid;
    const char* settings;
    const char* className;
    // What the device answers, in order, to: the class, GetAll, a change, Finish. "-" is end of stream.
    std::vector<std::string> answers;
    bool committed;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"SW-NONE", "{}", kClass,
       {"SDMessageSyncDataClassWithComputer", "SDMessageProcessChanges", "SDMessageRemapRecordIdentifiers",
        "SDMessageDeviceFinishedSession"},
       true},
      {"SW-REFUSE", R"({"refuseClasses": ["com.apple.Contacts"]})", kClass,
       {"SDMessageRefuseToSyncDataClassWithComputer", "SDMessageCancelSession", "SDMessageCancelSession",
        "SDMessageCancelSession"},
       false},
      {"SW-UNKNOWN-CLASS", "{}", "com.apple.Nothing",
       {"SDMessageRefuseToSyncDataClassWithComputer", "SDMessageCancelSession", "SDMessageCancelSession",
        "SDMessageCancelSession"},
       false},
      // A cancelled session is over: what follows finds no class chosen.
      {"SW-CANCEL", R"({"cancelOn": "SDMessageGetAllRecordsFromDevice"})", kClass,
       {"SDMessageSyncDataClassWithComputer", "SDMessageCancelSession", "SDMessageCancelSession",
        "SDMessageCancelSession"},
       false},
      {"SW-CANCEL-FINISH", R"({"cancelOn": "SDMessageFinishSessionOnDevice"})", kClass,
       {"SDMessageSyncDataClassWithComputer", "SDMessageProcessChanges", "SDMessageRemapRecordIdentifiers",
        "SDMessageCancelSession"},
       false},
      {"SW-DROP", R"({"dropAnswerTo": "SDMessageProcessChanges"})", kClass,
       {"SDMessageSyncDataClassWithComputer", "SDMessageProcessChanges", "-", "-"}, false},
      {"SW-REMAP-NOTHING", R"({"remapNothing": true})", kClass,
       {"SDMessageSyncDataClassWithComputer", "SDMessageProcessChanges", "SDMessageRemapRecordIdentifiers",
        "SDMessageDeviceFinishedSession"},
       true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.udid);
    AMDeviceRef device = Device(c.udid, {"--contacts", "2"});
    ASSERT_NE(device, nullptr);
    Settings(c.udid, c.settings);
    const std::string before = Book(c.udid);
    SyncPeer peer(device);
    std::vector<std::string> answers;
    CFHolder remapAnswer;
    answers.push_back(peer.Open(c.className));
    peer.Send(Simple("SDMessageGetAllRecordsFromDevice"));
    answers.push_back(peer.ReceiveName());
    peer.Send(Changes(Record("n", "com.apple.contacts.Contact", "")));
    answers.push_back(peer.ReceiveName(&remapAnswer));
    peer.Send(Simple("SDMessageFinishSessionOnDevice"));
    answers.push_back(peer.ReceiveName());
    for (std::string& answer : answers) {
      if (answer.empty()) answer = "-";
    }
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(Book(c.udid) != before, c.committed);
    if (std::string(c.udid) == "SW-REMAP-NOTHING") {
      CFTypeRef map = CFArrayGetValueAtIndex(static_cast<CFArrayRef>(remapAnswer.get()), 2);
      ASSERT_EQ(CFGetTypeID(map), static_cast<CFTypeID>(kHLXCFDictionaryTypeID));
      EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(map)), 0);
    }
  }
}

TEST_F(MDMobileSync, AFrameThatIsNoMessageEndsTheConnection) {
  AMDeviceRef device = Device("SYNC-JUNK");
  ASSERT_NE(device, nullptr);
  SyncPeer peer(device);
  ASSERT_EQ(peer.ReceiveName(), "DLMessageVersionExchange");
  ASSERT_TRUE(peer.Send("this is no property list"));
  EXPECT_EQ(peer.Receive(), nullptr);
}

TEST_F(MDMobileSync, TwoSessionsAtOnceCommitBothWithDistinctIds) {
  AMDeviceRef device = Device("SYNC-TWO", {"--contacts", "4"});
  ASSERT_NE(device, nullptr);
  SyncPeer first(device);
  SyncPeer second(device);
  ASSERT_EQ(first.Open(), "SDMessageSyncDataClassWithComputer");
  ASSERT_EQ(second.Open(), "SDMessageSyncDataClassWithComputer");
  std::map<std::string, std::string> a, b;
  ASSERT_TRUE(
      first.Stage(Changes(Record("x", "com.apple.contacts.Contact", "<key>first name</key>" + S("First"))), &a));
  ASSERT_TRUE(
      second.Stage(Changes(Record("x", "com.apple.contacts.Contact", "<key>first name</key>" + S("Second"))), &b));
  EXPECT_NE(a["x"], b["x"]);
  ASSERT_EQ(second.Finish(), "SDMessageDeviceFinishedSession");
  ASSERT_EQ(first.Finish(), "SDMessageDeviceFinishedSession");
  // clang-format off
  EXPECT_EQ(PythonWithTools("r = ab.read_address_book(" + Quote(ImagePath("SYNC-TWO")) + ")['records']\n"
                            "print(r[" + Quote(a["x"]) + "]['first name'], r[" + Quote(b["x"]) + "]['first name'])"),
            "First Second");
  // clang-format on
}

TEST_F(MDMobileSync, TheTranscriptHoldsEveryMessageOfBothSidesInOrder) {
  AMDeviceRef device = Device("SYNC-TRANSCRIPT", {"--contacts", "1", "--contact-groups", "0"});
  ASSERT_NE(device, nullptr);
  {
    SyncPeer peer(device);
    ASSERT_EQ(peer.Open(), "SDMessageSyncDataClassWithComputer");
    peer.Send(Plist(S("DLMessagePing") + S(kClass)));
    ASSERT_EQ(peer.Finish(), "SDMessageDeviceFinishedSession");
  }
  // clang-format off
  EXPECT_EQ(PythonWithTools("t = ab.read_transcripts(" + Quote(ImagePath("SYNC-TRANSCRIPT")) + ")\n"
                            "print(len(t), ' '.join(m['from'][0] + ':' + m['message'][0] for m in t[-1]))"),
            "1 d:DLMessageVersionExchange c:DLMessageVersionExchange d:DLMessageDeviceReady "
            "c:SDMessageSyncDataClassWithDevice d:SDMessageSyncDataClassWithComputer c:DLMessagePing "
            "c:SDMessageFinishSessionOnDevice d:SDMessageDeviceFinishedSession");
  // clang-format on
}

}  // namespace
