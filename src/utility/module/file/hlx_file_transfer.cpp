// Segmented transfers: headers, segment tables, the reader and the writer.
#include "utility/module/file/hlx_file_transfer.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_encoding.h"
#include "utility/hlx_json.h"
#include "utility/hlx_lock_order.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"

namespace hlx {
namespace {

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

std::string SegmentKey(int64_t id) {
  char text[32];
  std::snprintf(text, sizeof(text), "%" PRId64, id);
  return text;
}

template <typename Writer>
void WriteSegmentTable(Writer& writer, const SegmentTable& segments, bool withStatus) {
  writer.Key("fbs");
  writer.StartObject();
  for (const auto& [key, segment] : segments) {
    writer.Key(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
    writer.StartObject();
    writer.Key("status");
    writer.Int(withStatus && segment.status ? 1 : 0);
    writer.Key("offset");
    writer.Int64(segment.offset);
    writer.Key("offset_length");
    writer.Int64(segment.offsetLength);
    writer.EndObject();
  }
  writer.EndObject();
}

template <typename Writer>
void WriteString(Writer& writer, const char* key, const std::string& value) {
  writer.Key(key);
  writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

// Reads an optional member into *out; false when it is present with another type.
bool ReadText(const rapidjson::Value& json, const char* name, std::string* out) {
  auto member = json.FindMember(name);
  if (member == json.MemberEnd()) return true;
  if (!member->value.IsString()) return false;
  *out = StringOf(member->value);
  return true;
}

bool ReadInt64(const rapidjson::Value& json, const char* name, int64_t* out) {
  auto member = json.FindMember(name);
  if (member == json.MemberEnd()) return true;
  if (!member->value.IsInt64()) return false;
  *out = member->value.GetInt64();
  return true;
}

// A table read from the peer or a resume file covers the file exactly: no segment empty or outside
// it, none overlapping another, no byte left out, so each byte of the reserved file belongs to exactly
// one segment and the upload is complete exactly when every segment is written. A file of 0 bytes has
// no segments.
bool IsSoundTable(const SegmentTable& segments, int64_t size) {
  std::vector<std::pair<int64_t, int64_t>> ranges;
  for (const auto& [key, segment] : segments) {
    if (segment.offset < 0 || segment.offsetLength <= 0 || segment.offset > size ||
        segment.offsetLength > size - segment.offset) {
      return false;
    }
    ranges.emplace_back(segment.offset, segment.offsetLength);
  }
  std::sort(ranges.begin(), ranges.end());
  int64_t covered = 0;  // every byte below is in a segment
  for (const auto& [offset, length] : ranges) {
    if (offset != covered) return false;  // a gap before it, or an overlap with the one before
    covered = offset + length;
  }
  return covered == size;
}

bool ReadSegmentTable(const rapidjson::Value& json, SegmentTable* segments) {
  auto fbs = json.FindMember("fbs");
  if (fbs == json.MemberEnd()) return true;
  if (!fbs->value.IsObject()) return false;
  for (const auto& member : fbs->value.GetObject()) {
    if (!member.value.IsObject()) return false;
    const std::string name = StringOf(member.name);
    char* end = nullptr;
    const long long id = std::strtoll(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0' || id <= 0) return false;
    FileSegment segment;
    segment.id = id;
    int64_t status = 0;
    if (!ReadInt64(member.value, "offset", &segment.offset) ||
        !ReadInt64(member.value, "offset_length", &segment.offsetLength) ||
        !ReadInt64(member.value, "status", &status)) {
      return false;
    }
    segment.status = status != 0;
    (*segments)[SegmentKey(id)] = segment;
  }
  return true;
}

// The "path" of a resume record: the temporary file's name after the last '/' ("" without one).
std::string TemporaryFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

// "md5", "size", "status":0 and "fbs": the members that both header forms end with.
template <typename Writer>
void WriteDigestSizeAndTable(Writer& writer, const FileHeader& header, bool withStatus) {
  WriteString(writer, "md5", header.md5);
  writer.Key("size");
  writer.Int64(header.size);
  writer.Key("status");
  writer.Int(0);
  WriteSegmentTable(writer, header.segments, withStatus);
}

// Reads `length` bytes from `offset` of an open device file in pieces of the thread's transfer buffer
// and hands each piece to `use(bytes, count)`, which returns false to stop early. False on a failed
// seek or read or a file that ends before the range does; true when the whole range was read or `use`
// stopped.
template <typename Use>
bool ReadDeviceRange(AFCConnectionRef afc, AFCFileRef file, int64_t offset, int64_t length, Use use) {
  uint8_t* buffer = ThreadTransferBuffer();
  if (buffer == nullptr || Md().AFCFileRefSeek(afc, file, offset, 0) != kAFCSuccess) return false;
  while (length > 0) {
    uint32_t count = static_cast<uint32_t>(std::min<int64_t>(length, kAfcTransferBufferBytes));
    if (Md().AFCFileRefRead(afc, file, buffer, &count) != kAFCSuccess || count == 0) return false;
    length -= count;
    if (!use(buffer, count)) return true;
  }
  return true;
}

}  // namespace

std::string FileHeader::ToJson() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  WriteString(writer, "version", version);
  if (!type.empty()) WriteString(writer, "type", type);
  if (!fileName.empty()) WriteString(writer, "file_name", fileName);
  WriteDigestSizeAndTable(writer, *this, false);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string FileHeader::ResumeJson() const {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 4);
  writer.StartObject();
  WriteString(writer, "version", version);
  WriteString(writer, "path", TemporaryFileName(path));
  WriteDigestSizeAndTable(writer, *this, true);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool FileHeader::FromJson(const rapidjson::Value& json) {
  if (!json.IsObject()) return false;
  SegmentTable table;
  if (!ReadText(json, "md5", &md5) || !ReadText(json, "version", &version) || !ReadInt64(json, "size", &size) ||
      !ReadText(json, "path", &path) || !ReadText(json, "path_source", &pathSource) ||
      !ReadText(json, "path_project", &pathProject) || !ReadSegmentTable(json, &table)) {
    return false;
  }
  // A header from the peer starts with nothing written, whatever it says.
  for (auto& entry : table) entry.second.status = false;
  // No MD5 (absent or empty) leaves the finished file unchecked; any other text must be a digest.
  if (!md5.empty() && !IsMd5Text(md5)) return false;
  if (size < 0 || !IsSoundTable(table, size)) return false;
  segments = std::move(table);
  return true;
}

bool FileHeader::PlanSegments() {
  if (size <= 0 || segmentSize <= 0) return false;
  segments.clear();
  int64_t offset = 0;
  for (int64_t id = 1; offset < size; ++id) {
    FileSegment segment;
    segment.id = id;
    segment.offset = offset;
    segment.offsetLength = std::min(segmentSize, size - offset);
    segments[SegmentKey(id)] = segment;
    offset += segment.offsetLength;
  }
  return true;
}

const FileSegment* FileHeader::FirstMissingSegment() const {
  for (const auto& entry : segments) {
    if (!entry.second.status) return &entry.second;
  }
  return nullptr;
}

bool SegmentRequest::FromJson(const rapidjson::Value& json) {
  if (!json.IsObject()) return false;
  if (!ReadInt64(json, "id", &id) || !ReadInt64(json, "offset", &offset) ||
      !ReadInt64(json, "offset_length", &offsetLength)) {
    return false;
  }
  return offset >= 0 && offsetLength >= 0;
}

std::string SegmentReplyJson(const FileSegment& segment) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("id");
  json->Int64(segment.id);
  json.Key("offset_length");
  json->Int64(segment.offsetLength);
  json.Key("offset");
  json->Int64(segment.offset);
  json->EndObject();
  return json.Text();
}

FilePacketReader::~FilePacketReader() {
  // Every read holds the reader, so no reference is in use here.
  if (!m_header.service) return;
  AFCConnectionRef afc = m_header.service->AfcConnection();
  for (AFCFileRef file : m_idleFiles) (void)Md().AFCFileRefClose(afc, file);
}

bool FilePacketReader::Open(const FileHeader& header) {
  if (!header.service || header.segmentSize <= 0) return false;
  AFCConnectionRef afc = header.service->AfcConnection();
  AfcFileInfo info;
  if (!AfcGetFileInfo(afc, header.path, &info) || info.fileKind != "S_IFREG" || info.sizeBytes <= 0) return false;
  // All references are opened now, not when a read first needs one: a file replaced on the device
  // during the download must not give segments of two files.
  std::vector<AFCFileRef> files;
  for (size_t n = 0; n < kReadFiles; ++n) {
    AFCFileRef file = 0;
    if (Md().AFCFileRefOpen(afc, header.path.c_str(), kAFCFileModeRead, &file) != kAFCSuccess) break;
    files.push_back(file);
  }
  // One reference is enough to serve the download; fewer only read fewer segments at once.
  if (files.empty()) return false;
  m_header = header;
  m_header.size = info.sizeBytes;
  m_header.md5 = "a";  // no digest: the peer checks the whole file itself
  std::lock_guard<std::mutex> lock(m_mutex);
  m_idleFiles = std::move(files);
  return m_header.PlanSegments();
}

AFCFileRef FilePacketReader::TakeFile() {
  std::unique_lock<std::mutex> lock(m_mutex);
  // A read in progress gives its reference back within its own AFC calls, so the wait ends.
  m_fileReturned.wait(lock, [this] { return !m_idleFiles.empty(); });
  const AFCFileRef file = m_idleFiles.back();
  m_idleFiles.pop_back();
  return file;
}

void FilePacketReader::ReturnFile(AFCFileRef file) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idleFiles.push_back(file);
  }
  m_fileReturned.notify_one();
}

int64_t FilePacketReader::Read(const SegmentRequest& request, uint8_t* buffer, uint32_t capacity) {
  const uint32_t wanted = static_cast<uint32_t>(std::min<int64_t>(capacity, request.offsetLength));
  if (!m_header.service || wanted == 0) return -1;
  const AFCFileRef file = TakeFile();
  AFCConnectionRef afc = m_header.service->AfcConnection();
  // Every read seeks first, so a reference whose last read failed serves the next one as well.
  int64_t done = 0;
  if (Md().AFCFileRefSeek(afc, file, request.offset, 0) != kAFCSuccess) done = -1;
  while (done >= 0 && done < wanted) {
    uint32_t length = wanted - static_cast<uint32_t>(done);
    if (Md().AFCFileRefRead(afc, file, buffer + done, &length) != kAFCSuccess) {
      done = -1;
    } else if (length == 0) {
      break;
    } else {
      done += length;
    }
  }
  ReturnFile(file);
  return done;
}

FilePacketWriter::~FilePacketWriter() { (void)Finish(); }

namespace {

// The device names that the uploads of this process hold: the temporary and resume files of each open
// writer, so that two uploads of one name never share them. Keyed by AFC connection, which is one per
// device while a transfer holds it. Uploads are placed at their final names under the same lock.
struct UploadNames {
  Mutex mutex;
  std::set<std::pair<AFCConnectionRef, std::string>> held HLX_GUARDED_BY(mutex);
};

UploadNames& HeldUploadNames() {
  static UploadNames* names = nullptr;
  static std::once_flag made;
  std::call_once(made, [] { names = new UploadNames; });
  return *names;
}

// Holds both names for a writer; false when another writer holds either.
bool HoldUploadNames(AFCConnectionRef afc, const std::string& first, const std::string& second) {
  UploadNames& names = HeldUploadNames();
  MutexLock lock(names.mutex);
  if (names.held.count({afc, first}) != 0 || names.held.count({afc, second}) != 0) return false;
  names.held.insert({afc, first});
  names.held.insert({afc, second});
  return true;
}

void ReleaseUploadNames(AFCConnectionRef afc, const std::string& first, const std::string& second) {
  UploadNames& names = HeldUploadNames();
  MutexLock lock(names.mutex);
  names.held.erase({afc, first});
  names.held.erase({afc, second});
}

// A name on the device, or one an upload of this process holds.
bool IsNameTaken(UploadNames& names, AFCConnectionRef afc, const std::string& path) HLX_REQUIRES(names.mutex) {
  AfcFileInfo info;
  return names.held.count({afc, path}) != 0 || AfcGetFileInfo(afc, path, &info);
}

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

FilePacketWriter::PairState FilePacketWriter::InspectPair(const std::string& temporary, const std::string& resume,
                                                          SegmentTable* resumed) {
  AFCConnectionRef afc = m_header.service->AfcConnection();
  AfcFileInfo temporaryInfo;
  AfcFileInfo resumeInfo;
  const bool hasTemporary = AfcGetFileInfo(afc, temporary, &temporaryInfo);
  if (!AfcGetFileInfo(afc, resume, &resumeInfo)) return hasTemporary ? kForeign : kFree;
  // Only a resume record that names this temporary file was written by an upload; anything else at
  // that name is somebody's file. A record is a few hundred bytes per segment: one far larger is not.
  constexpr int64_t kMaxResumeFileBytes = 16 * 1024 * 1024;
  if (resumeInfo.fileKind != "S_IFREG" || resumeInfo.sizeBytes <= 0 || resumeInfo.sizeBytes > kMaxResumeFileBytes) {
    return kForeign;
  }
  std::string text;
  rapidjson::Document json;
  if (!AfcDownloadFile(afc, resume, nullptr, &text) || !ParseJsonText(&json, text) || !json.IsObject()) {
    return kForeign;
  }
  FileHeader stored;
  stored.version.clear();
  std::string named;
  SegmentTable table;
  if (!ReadText(json, "version", &stored.version) || !ReadText(json, "md5", &stored.md5) ||
      !ReadText(json, "path", &named) || !json.HasMember("size") || !ReadInt64(json, "size", &stored.size) ||
      !ReadSegmentTable(json, &table) || stored.version != "1" || named != TemporaryFileName(temporary) ||
      stored.size < 0 || !IsSoundTable(table, stored.size)) {
    return kForeign;
  }
  // The record's temporary file was not made yet, or was removed: the pair is a stale one of ours.
  if (!hasTemporary) return kStale;
  // A file of another size beside the record may be somebody's: it is left alone (an interruption
  // while a temporary file is being sized leaves such a pair behind, unused).
  if (temporaryInfo.fileKind != "S_IFREG" || temporaryInfo.sizeBytes != stored.size) return kForeign;
  // The same file only when the header names the same digest: a name and a size are no proof, and the
  // finished file is checked against that digest before it is placed. Without a digest nothing resumes.
  if (m_header.md5.empty() || Lowered(stored.md5) != Lowered(m_header.md5) || stored.size != m_header.size ||
      stored.version != m_header.version || table.empty()) {
    return kStale;
  }
  *resumed = std::move(table);
  return kResumable;
}

bool FilePacketWriter::ClaimPair(SegmentTable* resumed) {
  AFCConnectionRef afc = m_header.service->AfcConnection();
  const std::string temporary = m_header.path;
  const std::string resume = m_header.pathProject;
  bool claimed = false;
  bool resuming = false;
  // The pair "<final>.bak" and "<final>.json" when both are free (or a stale one of ours), else the
  // first such numbered pair ("<final>(1).bak" ...). A pair that an interrupted upload of the same
  // file left is resumed.
  for (int n = 0; n <= kMaxPathVariant && !resuming; ++n) {
    const std::string candidate = NumberedPathVariant(temporary, n);
    const std::string candidateResume = NumberedPathVariant(resume, n);
    if (!HoldUploadNames(afc, candidate, candidateResume)) continue;
    SegmentTable table;
    const PairState state = InspectPair(candidate, candidateResume, &table);
    const bool take = state == kResumable || (!claimed && (state == kFree || state == kStale));
    if (take) {
      if (claimed) ReleaseUploadNames(afc, m_header.path, m_header.pathProject);
      m_header.path = candidate;
      m_header.pathProject = candidateResume;
      claimed = true;
      if (state == kResumable) {
        *resumed = std::move(table);
        resuming = true;
      }
    } else {
      ReleaseUploadNames(afc, candidate, candidateResume);
    }
    // Pairs are taken in order, so none beyond the first free one is left to resume.
    if (state == kFree) break;
  }
  if (!claimed) {
    HLX_LOG(WARNING) << "upload refused: no free temporary and resume names beside " << m_header.pathSource;
    return false;
  }
  m_claimed = true;
  return true;
}

FilePacketWriter::OpenResult FilePacketWriter::Open(const FileHeader& header) {
  if (!header.service || header.path.empty() || header.pathProject.empty()) return kOpenFailed;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_claimed || m_finished) return kOpenFailed;  // one upload per writer
  m_header = header;
  m_requestedPath = header.pathSource;
  AFCConnectionRef afc = header.service->AfcConnection();
  SegmentTable resumed;
  if (!ClaimPair(&resumed)) return kNoFreeName;
  if (!resumed.empty()) {
    m_header.segments = std::move(resumed);
    HLX_LOG(INFO) << "upload resumed with " << m_header.segments.size() << " segments";
    if (!WriteResumeFile()) return kOpenFailed;
  } else {
    // The record comes first: a temporary file is only ever made beside a record that names it.
    if (!WriteResumeFile()) return kOpenFailed;
    AFCFileRef reserve = 0;
    if (Md().AFCFileRefOpen(afc, m_header.path.c_str(), kAFCFileModeReadWrite, &reserve) != kAFCSuccess) {
      return kReserveFailed;
    }
    const bool sized = Md().AFCFileRefSetFileSize(afc, reserve, static_cast<uint64_t>(header.size)) == kAFCSuccess;
    if (Md().AFCFileRefClose(afc, reserve) != kAFCSuccess || !sized) return kReserveFailed;
  }
  if (Md().AFCFileRefOpen(afc, m_header.path.c_str(), kAFCFileModeReadWrite, &m_file) != kAFCSuccess) {
    m_file = 0;
    return kOpenFailed;
  }
  // A first choice of the final name; it is chosen again when the upload is placed.
  m_header.pathSource = MakeUniqueDevicePath(afc, m_requestedPath);
  if (m_header.pathSource.empty()) {
    HLX_LOG(WARNING) << "upload refused: every numbered name of " << m_requestedPath << " is taken";
    return kNoFreeName;
  }
  return kReady;
}

bool FilePacketWriter::WriteResumeFile() {
  if (m_header.pathProject.empty()) return false;
  AFCConnectionRef afc = m_header.service->AfcConnection();
  if (m_resumeFile == 0 &&
      Md().AFCFileRefOpen(afc, m_header.pathProject.c_str(), kAFCFileModeReadWrite, &m_resumeFile) != kAFCSuccess) {
    m_resumeFile = 0;
    return false;
  }
  const std::string text = m_header.ResumeJson();
  // Opening does not truncate: an older, longer resume file must not keep its tail. It is cut after the
  // write, so that rewriting a record in place never leaves it empty in between.
  if (Md().AFCFileRefSeek(afc, m_resumeFile, 0, 0) != kAFCSuccess ||
      Md().AFCFileRefWrite(afc, m_resumeFile, text.data(), static_cast<uint32_t>(text.size())) != kAFCSuccess ||
      Md().AFCFileRefSetFileSize(afc, m_resumeFile, text.size()) != kAFCSuccess) {
    return false;
  }
  // Where each segment's status digit stands, so that a written segment costs a one-byte write
  // rather than a new resume file.
  m_statusOffsets.clear();
  size_t position = 0;
  for (const auto& entry : m_header.segments) {
    position = text.find("\"" + entry.first + "\": {", position);
    if (position == std::string::npos) return false;
    position = text.find("\"status\": ", position);
    if (position == std::string::npos) return false;
    position += 10;
    m_statusOffsets[entry.first] = static_cast<int64_t>(position);
  }
  return true;
}

void FilePacketWriter::RecordWrittenSegment(const std::string& key) {
  const auto offset = m_statusOffsets.find(key);
  AFCConnectionRef afc = m_header.service->AfcConnection();
  // A failed update only means that the segment is sent again after an interruption.
  if (m_resumeFile == 0 || offset == m_statusOffsets.end() ||
      Md().AFCFileRefSeek(afc, m_resumeFile, offset->second, 0) != kAFCSuccess ||
      Md().AFCFileRefWrite(afc, m_resumeFile, "1", 1) != kAFCSuccess) {
    HLX_LOG(WARNING) << "resume file not updated";
  }
}

FilePacketWriter::WriteResult FilePacketWriter::Write(const SegmentRequest& request, const uint8_t* bytes,
                                                      uint64_t length, std::optional<FileSegment>* missing) {
  std::lock_guard<std::mutex> lock(m_mutex);
  missing->reset();
  auto found = m_header.segments.find(SegmentKey(request.id));
  if (found == m_header.segments.end() || found->second.offset != request.offset ||
      found->second.offsetLength != static_cast<int64_t>(length) || length > UINT32_MAX) {
    return kSegmentMismatch;
  }
  if (m_finished) return kClosed;
  if (m_file == 0) return kWriteFailed;
  AFCConnectionRef afc = m_header.service->AfcConnection();
  if (found->second.status) {
    // Sent again (a retry, or a segment of an upload resumed after an interruption): the same bytes
    // are taken as they stand; other bytes would change a file part that is already written, and the
    // upload could complete with a mix of two files, so they are refused and nothing is written.
    bool same = true;
    size_t compared = 0;
    const bool read = ReadDeviceRange(afc, m_file, request.offset, static_cast<int64_t>(length),
                                      [&](const uint8_t* written, uint32_t count) {
                                        same = std::memcmp(written, bytes + compared, count) == 0;
                                        compared += count;
                                        return same;
                                      });
    if (!read) return kWriteFailed;
    if (!same) return kSegmentChanged;
  } else {
    if (Md().AFCFileRefSeek(afc, m_file, request.offset, 0) != kAFCSuccess ||
        Md().AFCFileRefWrite(afc, m_file, bytes, static_cast<uint32_t>(length)) != kAFCSuccess) {
      return kWriteFailed;
    }
    // The resume file records the segment only after its bytes are on the device.
    found->second.status = true;
    RecordWrittenSegment(found->first);
  }
  if (const FileSegment* next = m_header.FirstMissingSegment()) *missing = *next;
  return kWritten;
}

bool FilePacketWriter::NextMissingSegment(FileSegment* segment) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const FileSegment* missing = m_header.FirstMissingSegment();
  if (missing == nullptr) return false;
  *segment = *missing;
  return true;
}

std::string FilePacketWriter::FinalPath() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_header.pathSource;
}

FilePacketWriter::FinishResult FilePacketWriter::CheckDigest() {
  AFCConnectionRef afc = m_header.service->AfcConnection();
  AFCFileRef file = 0;
  if (Md().AFCFileRefOpen(afc, m_header.path.c_str(), kAFCFileModeRead, &file) != kAFCSuccess) return kNotPlaced;
  Md5Digest md5;
  const bool read = ReadDeviceRange(afc, file, 0, m_header.size,
                                    [&md5](const uint8_t* bytes, uint32_t count) { return md5.Update(bytes, count); });
  (void)Md().AFCFileRefClose(afc, file);
  const std::string digest = read ? md5.Finish() : std::string();
  if (digest.empty()) {
    HLX_LOG(WARNING) << "upload not placed: its MD5 could not be computed";
    return kNotPlaced;
  }
  const std::string expected = Lowered(m_header.md5);
  if (digest != expected) {
    HLX_LOG(WARNING) << "upload refused: its bytes have the MD5 " << digest << ", its header names " << expected;
    return kDigestMismatch;
  }
  return kPlaced;
}

bool FilePacketWriter::PlaceUpload() {
  AFCConnectionRef afc = m_header.service->AfcConnection();
  UploadNames& names = HeldUploadNames();
  // Under the names lock, so that two uploads of one name placed at once never take the same final
  // name: a rename replaces what stands at its target, so the target is chosen free right before it.
  MutexLock lock(names.mutex);
  if (IsNameTaken(names, afc, m_header.pathSource)) {
    m_header.pathSource.clear();
    for (int n = 0; n <= kMaxPathVariant && m_header.pathSource.empty(); ++n) {
      std::string candidate = NumberedPathVariant(m_requestedPath, n);
      if (!IsNameTaken(names, afc, candidate)) m_header.pathSource = std::move(candidate);
    }
  }
  if (m_header.pathSource.empty()) {
    HLX_LOG(WARNING) << "upload not placed: every numbered name of " << m_requestedPath << " is taken";
    return false;
  }
  return Md().AFCRenamePath(afc, m_header.path.c_str(), m_header.pathSource.c_str()) == kAFCSuccess;
}

FilePacketWriter::FinishResult FilePacketWriter::Finish() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_finished || !m_header.service) return kNotPlaced;
  m_finished = true;
  AFCConnectionRef afc = m_header.service->AfcConnection();
  bool closed = true;
  if (m_file != 0) {
    // A close can report a write that the device did not complete.
    closed = Md().AFCFileRefClose(afc, m_file) == kAFCSuccess;
    m_file = 0;
  }
  if (m_resumeFile != 0) {
    (void)Md().AFCFileRefClose(afc, m_resumeFile);
    m_resumeFile = 0;
  }
  // Only the pair this writer claimed is its own; without one it touched nothing on the device.
  if (!m_claimed) return kNotPlaced;
  // A complete file whose bytes are not the ones its header names is not the file: it is removed
  // with its resume file rather than put in place.
  FinishResult result = closed && m_header.FirstMissingSegment() == nullptr ? kPlaced : kNotPlaced;
  if (result == kPlaced && !m_header.md5.empty()) result = CheckDigest();
  if (result == kPlaced && !PlaceUpload()) result = kNotPlaced;
  // The temporary file goes before its record: an interruption in between leaves a record without its
  // file, which a later upload of the name takes as a stale pair of its own.
  if (result != kPlaced) (void)Md().AFCRemovePath(afc, m_header.path.c_str());
  (void)Md().AFCRemovePath(afc, m_header.pathProject.c_str());
  ReleaseUploadNames(afc, m_header.path, m_header.pathProject);
  m_claimed = false;
  return result;
}

std::string MakeUniqueDevicePath(AFCConnectionRef afc, const std::string& path) {
  return FirstFreePathVariant(path, [afc](const std::string& candidate) {
    AfcFileInfo info;
    return AfcGetFileInfo(afc, candidate, &info);
  });
}

}  // namespace hlx
