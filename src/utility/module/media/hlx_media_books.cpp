// Requests 1001, 1012 and 1013 (see hlx_media_books.h).
#include "utility/module/media/hlx_media_books.h"

#include <rapidjson/document.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <string>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_json.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_text.h"
#include "utility/hlx_zip_util.h"
#include "utility/module/media/hlx_itunes_db.h"

namespace hlx {
namespace {

constexpr char kBooksFolder[] = "/Books/";
constexpr char kPurchasesFolder[] = "/Books/Purchases/";
constexpr char kBooksListDevicePath[] = "/Books/Books.plist";
constexpr char kPurchasesDevicePath[] = "/Books/Purchases/Purchases.plist";
constexpr char kEmptyBookList[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Books</key><array/></dict></plist>";
// Free names are drawn at random from 26^4; a folder that refuses this many draws is not usable.
constexpr int kMaxNameDraws = 1000;
// A book list entry's "Path" is compared as at most this many bytes of UTF-8.
constexpr size_t kMaxListPathBytes = 259;

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

std::string WithSlashes(std::string path) {
  for (char& c : path) {
    if (c == ':') c = '/';
  }
  return path;
}

std::string BookJson(const BookRecord& book) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("path"), json.String(WithSlashes(book.devicePath));
  json.Key("title"), json.String(book.title);
  json.Key("size"), json->Int64(book.sizeBytes);
  json.Key("artist"), json.String(book.artist);
  json.Key("purchase"), json.String(book.kind);
  json.Key("gene"), json.String(book.genre);
  json->EndObject();
  return json.Text();
}

std::string RingtoneJson(const RingtoneRecord& ringtone) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("path"), json.String(WithSlashes(ringtone.devicePath));
  json.Key("title"), json.String(ringtone.title);
  json.Key("size"), json->Int64(ringtone.sizeBytes);
  json.Key("duration"), json->Int(ringtone.lengthMs);
  json->EndObject();
  return json.Text();
}

const std::string* TextOf(const CIOSDictionary& entry, const char* key) {
  const PlistVariant* value = entry.Find(key);
  return value != nullptr ? value->GetString() : nullptr;
}

// The books of one local list whose files are on the device.
void ReadBookList(AFCConnectionRef afc, const std::string& listPath, const char* folder,
                  std::vector<BookRecord>* books) {
  PlistVariant document;
  if (listPath.empty() || !LoadPlistFile(listPath, &document)) return;
  const PlistVariant::Array* top = document.GetArray();
  const CIOSDictionary* root = top != nullptr && !top->empty() ? top->front().GetDictionary() : nullptr;
  const PlistVariant* list = root != nullptr ? root->Find("Books") : nullptr;
  if (list == nullptr || list->GetArray() == nullptr) return;
  for (const PlistVariant& element : *list->GetArray()) {
    const CIOSDictionary* entry = element.GetDictionary();
    const std::string* path = entry != nullptr ? TextOf(*entry, "Path") : nullptr;
    if (path == nullptr) continue;
    BookRecord book;
    book.devicePath = folder + *path;
    AfcFileInfo info;
    if (!AfcGetFileInfo(afc, book.devicePath, &info) || info.fileKind.empty()) continue;
    book.sizeBytes = info.sizeBytes;
    for (auto [key, field] : {std::pair{"Name", &book.title}, {"Artist", &book.artist}, {"Genre", &book.genre}}) {
      if (const std::string* text = TextOf(*entry, key)) *field = *text;
    }
    books->push_back(std::move(book));
  }
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

bool WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
  file.close();
  return !file.fail();
}

CFPtr<CFStringRef> MakeText(const std::string& text) {
  return CFPtr<CFStringRef>(Md().CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
}

// A book list parsed into mutable containers: its root dictionary and its "Books" array (added,
// empty, when the list has none).
struct EditableBookList {
  CFPtr<CFPropertyListRef> root;
  CFMutableArrayRef books = nullptr;  // owned by root
};

// False when the bytes are no property list, the root is no dictionary or "Books" is no array.
bool ParseBookList(const std::string& bytes, EditableBookList* list) {
  CFPtr<CFDataRef> data(
      Md().CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()), static_cast<CFIndex>(bytes.size())));
  if (!data) return false;
  list->root.reset(Md().CFPropertyListCreateWithData(nullptr, data.get(), kCFPropertyListMutableContainersAndLeaves,
                                                     nullptr, nullptr));
  if (!list->root || Md().CFGetTypeID(list->root.get()) != kHLXCFDictionaryTypeID) return false;
  auto* root = static_cast<CFMutableDictionaryRef>(const_cast<void*>(list->root.get()));
  CFPtr<CFStringRef> key = MakeText("Books");
  const void* books = Md().CFDictionaryGetValue(root, key.get());
  if (books == nullptr) {
    CFPtr<CFMutableArrayRef> made(Md().CFArrayCreateMutable(nullptr, 0, nullptr));
    if (!made) return false;
    Md().CFDictionaryAddValue(root, key.get(), made.get());
    books = made.get();
  }
  if (Md().CFGetTypeID(books) != kHLXCFArrayTypeID) return false;
  list->books = static_cast<CFMutableArrayRef>(const_cast<void*>(books));
  return true;
}

// Serialises the list as XML over the local copy; false when it cannot be serialised or written.
bool WriteBookList(const EditableBookList& list, const std::string& localPath) {
  BinaryPlistPtr xml = SerializePlist(list.root.get(), kCFPropertyListXMLFormat_v1_0);
  return xml && WriteWholeFile(localPath, xml->bytes, xml->length);
}

uint64_t DrawRandom64() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::lock_guard<std::mutex> lock(mutex);
  return generator();
}

// A file name under /Books/ that is free on the device: four upper-case letters and the extension.
bool MakeBookFileName(AFCConnectionRef afc, const std::string& extension, std::string* name) {
  for (int draw = 0; draw < kMaxNameDraws; ++draw) {
    const uint64_t random = DrawRandom64();
    name->clear();
    for (int i = 0; i < 4; ++i) *name += static_cast<char>('A' + (random >> (i * 16)) % 26);
    *name += extension;
    AfcFileInfo info;
    if (!AfcGetFileInfo(afc, kBooksFolder + *name, &info)) return true;
  }
  return false;
}

// Reads the local books list for an edit, copying it from the device first when there is no local
// copy; a device without a list starts a new one. 0, or 32 when the copy cannot be read or parsed.
// The caller holds the book mutex.
int LoadBooksListForEdit(MediaCopies* copies, AFCConnectionRef afc, EditableBookList* list, std::string* local) {
  std::unique_lock<std::shared_mutex> lock(copies->filesLock);
  *local = copies->PathOf(kBooksListFile);
  struct stat status {};
  if (local->empty() || stat(local->c_str(), &status) != 0) {
    (void)CopyMediaFiles(copies, afc, MediaCopy::kBooksList);
    *local = copies->PathOf(kBooksListFile);
  }
  std::string bytes = kEmptyBookList;
  if (stat(local->c_str(), &status) == 0 && !ReadWholeFile(*local, &bytes)) return kReplyBookListUnreadable;
  return ParseBookList(bytes, list) ? 0 : kReplyBookListUnreadable;
}

// Appends the imported book's entry, writes the list over the local copy and uploads it: 0, 33 or 34.
int AppendBookAndUpload(MediaCopies* copies, AFCConnectionRef afc, const EditableBookList& list,
                        const std::string& local, const std::string& baseName, const std::string& fileName) {
  CFPtr<CFMutableDictionaryRef> entry(Md().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  char persistentId[17];
  std::snprintf(persistentId, sizeof persistentId, "%016llX", static_cast<unsigned long long>(DrawRandom64()));
  CFPtr<CFStringRef> keys[] = {MakeText("Has Artwork"), MakeText("Name"), MakeText("Path"), MakeText("Persistent ID")};
  CFPtr<CFStringRef> values[] = {MakeText(baseName), MakeText(fileName), MakeText(persistentId)};
  if (!entry || !values[0] || !values[1] || !values[2]) return kReplyBookListUnwritable;
  Md().CFDictionaryAddValue(entry.get(), keys[0].get(), *Md().kCFBooleanTrue);
  for (int i = 0; i < 3; ++i) Md().CFDictionaryAddValue(entry.get(), keys[i + 1].get(), values[i].get());
  Md().CFArrayAppendValue(list.books, entry.get());
  std::unique_lock<std::shared_mutex> lock(copies->filesLock);
  if (!WriteBookList(list, local)) return kReplyBookListUnwritable;
  return AfcUploadFile(afc, local, kBooksListDevicePath) ? 0 : kReplyBookUploadFailed;
}

// ---- Zip archives read from or written to the device --------------------------------------------

struct AfcZipFile {
  AFCFileRef ref = 0;
  bool failed = false;
};

AFCConnectionRef ConnectionOf(voidpf opaque) { return static_cast<AFCConnectionRef>(opaque); }

voidpf ZCALLBACK AfcZipOpen(voidpf opaque, const void* path, int mode) {
  auto file = std::make_unique<AfcZipFile>();
  const uint64_t afcMode = (mode & ZLIB_FILEFUNC_MODE_READ) != 0 ? 1 : 2;
  const auto* name = static_cast<const char*>(path);
  if (Md().AFCFileRefOpen(ConnectionOf(opaque), name, afcMode, &file->ref) != 0) return nullptr;
  return file.release();
}

uLong ZCALLBACK AfcZipRead(voidpf opaque, voidpf stream, void* buffer, uLong size) {
  auto* file = static_cast<AfcZipFile*>(stream);
  uint32_t length = static_cast<uint32_t>(size);
  if (Md().AFCFileRefRead(ConnectionOf(opaque), file->ref, buffer, &length) != 0) {
    file->failed = true;
    return 0;
  }
  return length;
}

uLong ZCALLBACK AfcZipWrite(voidpf opaque, voidpf stream, const void* buffer, uLong size) {
  auto* file = static_cast<AfcZipFile*>(stream);
  if (Md().AFCFileRefWrite(ConnectionOf(opaque), file->ref, buffer, static_cast<uint32_t>(size)) != 0) {
    file->failed = true;
    return 0;
  }
  return size;
}

ZPOS64_T ZCALLBACK AfcZipTell(voidpf opaque, voidpf stream) {
  uint64_t position = 0;
  if (Md().AFCFileRefTell(ConnectionOf(opaque), static_cast<AfcZipFile*>(stream)->ref, &position) != 0) {
    return static_cast<ZPOS64_T>(-1);
  }
  return position;
}

long ZCALLBACK AfcZipSeek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin) {
  const uint64_t whence = origin == ZLIB_FILEFUNC_SEEK_CUR ? 1 : origin == ZLIB_FILEFUNC_SEEK_END ? 2 : 0;
  return Md().AFCFileRefSeek(ConnectionOf(opaque), static_cast<AfcZipFile*>(stream)->ref, static_cast<int64_t>(offset),
                             whence) == 0
             ? 0
             : -1;
}

int ZCALLBACK AfcZipClose(voidpf opaque, voidpf stream) {
  std::unique_ptr<AfcZipFile> file(static_cast<AfcZipFile*>(stream));
  return Md().AFCFileRefClose(ConnectionOf(opaque), file->ref) == 0 ? 0 : -1;
}

int ZCALLBACK AfcZipError(voidpf /*opaque*/, voidpf stream) { return static_cast<AfcZipFile*>(stream)->failed ? 1 : 0; }

// Makes the folder with every missing parent on the device.
int AfcMakeFolders(void* opaque, const char* path) {
  const std::string full(path);
  for (size_t slash = full.find('/', 1);; slash = full.find('/', slash + 1)) {
    const std::string part = full.substr(0, slash);
    if (!part.empty()) (void)AfcMakeDirectory(ConnectionOf(opaque), part);
    if (slash == std::string::npos) break;
  }
  return 0;
}

zlib_filefunc64_def AfcZipTable(AFCConnectionRef afc) {
  zlib_filefunc64_def table{};
  table.zopen64_file = AfcZipOpen;
  table.zread_file = AfcZipRead;
  table.zwrite_file = AfcZipWrite;
  table.ztell64_file = AfcZipTell;
  table.zseek64_file = AfcZipSeek;
  table.zclose_file = AfcZipClose;
  table.zerror_file = AfcZipError;
  table.opaque = afc;
  return table;
}

// Moves or unpacks the book to `devicePath`: 0, or the request's code. A failed unpacking leaves no
// partial folder behind.
int TransferBook(AFCConnectionRef afc, const std::string& source, bool remote, const std::string& extension,
                 const std::string& devicePath) {
  if (extension == ".EPUB") {
    ZipUtil zip;
    zip.outputTable = AfcZipTable(afc);
    zip.makeFolder = AfcMakeFolders;
    zip.setFileTime = nullptr;
    bool unpacked;
    if (remote) {
      zip.archiveTable = AfcZipTable(afc);
      unpacked = zip.ExtractToFolder(source, devicePath);
      (void)AfcRemovePath(afc, source);
    } else {
      unpacked = zip.ExtractToFolderW(Utf8ToWide(source), devicePath);
    }
    if (unpacked) return 0;
    (void)AfcRemoveTree(afc, devicePath, true, false);
    return kReplyBookUnpackFailed;
  }
  if (remote) return Md().AFCRenamePath(afc, source.c_str(), devicePath.c_str()) == 0 ? 0 : kReplyBookPathRefused;
  if (AfcUploadFile(afc, source, devicePath)) return 0;
  (void)AfcRemovePath(afc, devicePath);
  return kReplyBookUploadFailed;
}

// Removes the book at `path` by its kind: a PDF is one file, an EPUB an unpacked folder. A book of
// another kind leaves its file for the list entry alone to go, unless `anyKind`, when a file of
// that name goes too. True when nothing of the book is left to remove.
bool RemoveBookFiles(AFCConnectionRef afc, const std::string& path, const std::string& fileName, bool anyKind) {
  std::string extension = fileName.find('.') == std::string::npos ? "" : fileName.substr(fileName.rfind('.') + 1);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (extension == "PDF") return AfcRemovePath(afc, path);
  if (extension == "EPUB") return AfcRemoveTree(afc, path, true, false);
  if (!anyKind) return true;
  AfcFileInfo info;
  return AfcGetFileInfo(afc, path, &info) && info.fileKind == "S_IFREG" && AfcRemovePath(afc, path);
}

}  // namespace

int ListBooksAndRingtones(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc) {
  bool databaseCopied = false;
  bool listsCopied = false;
  {
    std::unique_lock<std::shared_mutex> copying(copies->filesLock);
    databaseCopied = CopyMediaFiles(copies, afc, MediaCopy::kITunesCdb);
    listsCopied = CopyMediaFiles(copies, afc, MediaCopy::kBooksList);
    listsCopied = CopyMediaFiles(copies, afc, MediaCopy::kPurchases) || listsCopied;
  }
  MediaCatalog catalog;
  std::vector<BookRecord> books;
  {
    std::shared_lock<std::shared_mutex> reading(copies->filesLock);
    ITunesDbReader reader;
    if (databaseCopied && reader.Load(copies->PathOf(kITunesCdbFile))) reader.BuildCatalog(&catalog);
    ReadBookList(afc, copies->PathOf(kBooksListFile), kBooksFolder, &books);
    ReadBookList(afc, copies->PathOf(kPurchasesFile), kPurchasesFolder, &books);
  }
  for (auto it = catalog.books.begin(); it != catalog.books.end();) {
    it->second.devicePath = WithSlashes(it->second.devicePath);
    AfcFileInfo info;
    if (!AfcGetFileInfo(afc, it->second.devicePath, &info) || info.fileKind.empty()) {
      it = catalog.books.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& [id, book] : catalog.books) {
    if (!listsCopied) {
      books.push_back(book);
      continue;
    }
    // A lambda may not capture a structured binding in C++17 (clang rejects it), so it captures the path.
    auto listed = std::find_if(books.begin(), books.end(),
                               [&path = book.devicePath](const BookRecord& b) { return b.devicePath == path; });
    if (listed == books.end()) {
      books.push_back(book);
    } else if (book.sizeBytes != 0) {
      listed->sizeBytes = book.sizeBytes;
    }
  }
  std::vector<std::string> objects;
  for (const BookRecord& book : books) objects.push_back(BookJson(book));
  SendSection(request, kRequestBooks, objects);
  objects.clear();
  for (const auto& [id, ringtone] : catalog.ringtones) objects.push_back(RingtoneJson(ringtone));
  SendSection(request, kRequestRingtones, objects);
  return 0;
}

int ImportBook(const FeatureRequest& request, MediaCopies* copies, const AfcOpener& openAfc,
               const rapidjson::Value& data) {
  const rapidjson::Value* pathValue = FindStringMember(data, "path");
  if (pathValue == nullptr) return kReplyBadData;
  const std::string path = StringOf(*pathValue);
  auto remoteMember = data.FindMember("remote");
  const bool remote =
      remoteMember != data.MemberEnd() && remoteMember->value.IsInt64() && remoteMember->value.GetInt64() != 0;
  const size_t separator = remote ? path.rfind('/') : path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (separator == std::string::npos || dot == std::string::npos || dot < separator) return kReplyBadData;
  const std::string baseName = path.substr(separator + 1, dot - separator - 1);
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // From the PC only books are taken: anything else would add a list entry for a file never sent.
  if (!remote && extension != ".PDF" && extension != ".EPUB") return kReplyBadData;

  AFCConnectionRef afc = openAfc();
  if (afc == nullptr) return kReplyAfcNotOpened;
  // One import or deletion at a time per device, from the name draw to the list upload: two imports
  // would draw the same free name or upload lists that each miss the other's entry.
  std::lock_guard<std::mutex> bookLock(copies->bookMutex);
  // The list is read first, so that a list that cannot be edited leaves the device untouched, and
  // the entry is added last, once the book is on the device.
  EditableBookList list;
  std::string local;
  if (int code = LoadBooksListForEdit(copies, afc, &list, &local); code != 0) return code;
  std::string fileName;
  if (!MakeBookFileName(afc, extension, &fileName)) return kReplyBookUploadFailed;
  const std::string devicePath = kBooksFolder + fileName;
  if (int code = TransferBook(afc, path, remote, extension, devicePath); code != 0) return code;
  AfcFileInfo info;
  if (!AfcGetFileInfo(afc, devicePath, &info)) return kReplyBookUploadFailed;
  if (int code = AppendBookAndUpload(copies, afc, list, local, baseName, fileName); code != 0) return code;
  BookRecord book;
  book.title = baseName;
  book.sizeBytes = info.sizeBytes;
  book.devicePath = devicePath;
  const std::string reply = "[" + BookJson(book) + "]";
  request.SendProgress(kRequestImportBooks, 0, nullptr, &reply);
  return 0;
}

int DeleteBook(MediaCopies* copies, const AfcOpener& openAfc, const rapidjson::Value& data) {
  const rapidjson::Value* pathValue = FindStringMember(data, "path");
  if (pathValue == nullptr) return kReplyBadData;
  const std::string path = StringOf(*pathValue);
  AFCConnectionRef afc = openAfc();
  if (afc == nullptr) return kReplyAfcNotOpened;
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return kReplyBookPathRefused;
  const std::string fileName = path.substr(slash + 1);
  const bool purchased = path.compare(0, sizeof kPurchasesFolder - 1, kPurchasesFolder) == 0;
  const char* folder = purchased ? kPurchasesFolder : kBooksFolder;
  // Only a book directly in its list's folder: "/Books/../DCIM/X.pdf" or "/Books/a/X.pdf" would
  // remove a file that the list entry does not name.
  if (path != folder + fileName || !IsPlainChildName(fileName, PathSide::kDevice)) {
    return kReplyBookPathRefused;
  }

  std::lock_guard<std::mutex> bookLock(copies->bookMutex);
  std::unique_lock<std::shared_mutex> lock(copies->filesLock);
  const std::string local = copies->PathOf(purchased ? kPurchasesFile : kBooksListFile);
  std::string bytes;
  EditableBookList list;
  if (local.empty() || !ReadWholeFile(local, &bytes) || !ParseBookList(bytes, &list)) return kReplyBookListUnreadable;
  CFPtr<CFStringRef> pathKey = MakeText("Path");
  const CFIndex count = Md().CFArrayGetCount(list.books);
  for (CFIndex i = 0; i < count; ++i) {
    const void* entry = Md().CFArrayGetValueAtIndex(list.books, i);
    if (entry == nullptr || Md().CFGetTypeID(entry) != kHLXCFDictionaryTypeID) continue;
    const void* name = Md().CFDictionaryGetValue(static_cast<CFDictionaryRef>(entry), pathKey.get());
    char text[kMaxListPathBytes + 1];
    if (name == nullptr || Md().CFGetTypeID(name) != kHLXCFStringTypeID ||
        !Md().CFStringGetCString(static_cast<CFStringRef>(name), text, sizeof text, kCFStringEncodingUTF8) ||
        fileName != text) {
      continue;
    }
    // The list changes only with the book: a failed removal keeps both as they were, and says so.
    if (!RemoveBookFiles(afc, path, fileName, false)) return kReplyBookNotRemoved;
    Md().CFArrayRemoveValueAtIndex(list.books, i);
    if (!WriteBookList(list, local)) return kReplyBookListUnwritable;
    (void)AfcUploadFile(afc, local, purchased ? kPurchasesDevicePath : kBooksListDevicePath);
    return 0;
  }
  // No list names it, yet the listing shows such a book when the device's media database does: it is
  // removed where it lives. A path with nothing there is a book already gone.
  AfcFileInfo info;
  if (!AfcGetFileInfo(afc, path, &info) || info.fileKind.empty()) return 0;
  return RemoveBookFiles(afc, path, fileName, true) ? 0 : kReplyBookNotRemoved;
}

}  // namespace hlx
