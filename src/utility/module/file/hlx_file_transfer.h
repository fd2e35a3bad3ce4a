// Segmented file transfers over AFC: the header of one transfer with its segment table and its JSON
// forms, the reader that serves a device file segment by segment, and the writer that builds an
// upload in a temporary device file beside a resume file, so that an interrupted upload can go on
// where it stopped.
//
// JSON forms (member order as written):
//   download header  {"version","type"?,"file_name"?,"md5","size","status":0,"fbs":{"1":{...},...}}
//   resume file      {"version","path","md5","size","status":0,"fbs":{...}} (indented), where a
//                    segment's "status" is 1 once it is on the device
//   segment          {"status","offset","offset_length"} inside "fbs"; {"id","offset_length","offset"}
//                    when one segment is asked for
//
// Threads: the requests of one transfer may run on different workers at once. A reader gives each
// read in progress a file reference of its own (the device connection serves several at once), so
// the segments of a download are read in parallel and never share a file position. A writer owns a
// mutex around its seek+write pairs and its segment table, so segments of one upload never
// interleave on its file reference.
#pragma once

#include <rapidjson/document.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mobiledevice.h"

namespace hlx {

class HLXDeviceService;

struct FileSegment {
  int64_t id = 0;  // from 1
  int64_t offset = 0;
  int64_t offsetLength = 0;
  bool status = false;  // the whole segment is on the device
};

// Segment id as decimal text -> segment, in byte-wise order of the text ("1", "10", "2", ...).
using SegmentTable = std::map<std::string, FileSegment>;

// What one transfer is about.
struct FileHeader {
  std::shared_ptr<HLXDeviceService> service;
  std::string path;         // device file read, or an upload's temporary file
  std::string pathSource;   // upload: the final device path
  std::string pathProject;  // upload: the resume file
  std::string type;
  std::string fileName;
  std::string version = "1";
  std::string md5;
  int64_t size = 0;
  int64_t segmentSize = 0;
  SegmentTable segments;

  // The download header (compact).
  std::string ToJson() const;
  // Reads an upload header: "md5", "version", "size", "path", "path_source", "path_project" and
  // "fbs". False when a member has the wrong type, when "md5" is neither empty nor 32 hexadecimal
  // digits, or when the segments do not cover the file exactly (one is empty or lies outside the
  // file, two overlap, or bytes are left between them or at the end): such a table would write
  // outside the reserved file, or complete with bytes that nobody sent.
  [[nodiscard]] bool FromJson(const rapidjson::Value& json);
  // The resume file's text (indented by four blanks); written segments carry "status":1.
  std::string ResumeJson() const;
  // Splits `size` bytes into segments of `segmentSize`; false when either is not above 0.
  bool PlanSegments();
  // The first segment not yet written, or null when all are.
  const FileSegment* FirstMissingSegment() const;
};

// One segment request: {"id","offset","offset_length"}.
struct SegmentRequest {
  int64_t id = 0;
  int64_t offset = 0;
  int64_t offsetLength = 0;
  // False when a member has the wrong type or the range is negative.
  [[nodiscard]] bool FromJson(const rapidjson::Value& json);
};

// {"id","offset_length","offset"}.
std::string SegmentReplyJson(const FileSegment& segment);

// A device file opened for reading in segments; its file references are closed when the reader is
// destroyed.
class FilePacketReader {
 public:
  // File references opened on the file: as many segments are read at once (the desktop keeps four
  // in flight); a further read waits for one of them.
  static constexpr size_t kReadFiles = 4;

  FilePacketReader() = default;
  ~FilePacketReader();
  FilePacketReader(const FilePacketReader&) = delete;
  FilePacketReader& operator=(const FilePacketReader&) = delete;

  // Opens header.path (a regular file above 0 bytes) up to kReadFiles times and plans its segments of
  // header.segmentSize.
  [[nodiscard]] bool Open(const FileHeader& header);
  // Reads up to min(request length, `capacity`) bytes at the request's offset into `buffer`;
  // the count read (0 at or past the end), or -1 on a failed seek or read. Reads on several threads
  // at once proceed in parallel, each on a file reference no other read uses meanwhile.
  int64_t Read(const SegmentRequest& request, uint8_t* buffer, uint32_t capacity);
  // Set by Open and not changed afterwards.
  const FileHeader& Header() const { return m_header; }

 private:
  // An idle file reference, waiting for one while every one is in use; ReturnFile gives it back.
  AFCFileRef TakeFile();
  void ReturnFile(AFCFileRef file);

  FileHeader m_header;
  std::mutex m_mutex;
  // guards: m_idleFiles (references opened by Open and not in use by a read)
  std::vector<AFCFileRef> m_idleFiles;
  std::condition_variable m_fileReturned;
};

// An upload into a temporary file beside a resume file that records which segments are on the device.
// The pair is header.path and header.pathProject ("<final>.bak", "<final>.json") when both names are
// free, else the first free numbered pair ("<final>(1).bak", "<final>(1).json", ...); a file at those
// names that no upload made is never written, moved or removed. When the writer is finished, a
// complete upload is moved to a free final path and an incomplete one (or one whose MD5 is not the
// header's) is removed with its resume file.
class FilePacketWriter {
 public:
  enum OpenResult : int { kOpenFailed = 0, kReserveFailed = 2, kReady = 3, kNoFreeName = 4 };
  enum WriteResult : int { kWritten = 0, kSegmentMismatch = 1, kWriteFailed = 2, kClosed = 3, kSegmentChanged = 4 };
  enum FinishResult : int { kPlaced = 0, kNotPlaced = 1, kDigestMismatch = 2 };

  FilePacketWriter() = default;
  ~FilePacketWriter();
  FilePacketWriter(const FilePacketWriter&) = delete;
  FilePacketWriter& operator=(const FilePacketWriter&) = delete;

  // Opens a new upload, or resumes one that an interruption left: a pair whose temporary file has the
  // full size and whose resume record names the same version, size and MD5. Without an MD5 nothing
  // resumes, since a name and a size cannot show that the bytes on the device are this file's.
  // kNoFreeName when no pair of names, or no final name, is free. Called once per writer.
  [[nodiscard]] OpenResult Open(const FileHeader& header);
  // Writes one whole segment (the request must name a segment of the table with its offset and
  // length, and `length` must be that length) and records it in the resume file. A segment that is
  // written already is not written again: the same bytes count as written, other bytes are
  // kSegmentChanged and leave the file as it was. When written,
  // `*missing` is the first segment still missing after this write, found under the same lock, so that
  // of segments written at once only the last sees none missing; std::nullopt when every one is written.
  [[nodiscard]] WriteResult Write(const SegmentRequest& request, const uint8_t* bytes, uint64_t length,
                                  std::optional<FileSegment>* missing);
  // The first segment still missing; false when every segment is written.
  bool NextMissingSegment(FileSegment* segment);
  // The final device path (after Finish, the one the upload was placed at).
  std::string FinalPath();
  // Closes the file and, when every segment is written and the file's MD5 is the header's (when the
  // header names one), moves the upload to a final path that is free at that moment (the header's
  // final path or its first free numbered variant); otherwise removes the temporary file. The resume
  // file is removed in every case. kPlaced when the upload is complete and in place, kDigestMismatch
  // when it was complete but its bytes have another MD5. Called at most once (later calls give
  // kNotPlaced); the destructor calls it.
  FinishResult Finish();

 private:
  // What stands at a pair of temporary and resume names.
  enum PairState {
    kFree,       // neither name exists
    kResumable,  // an interrupted upload of the same file (same MD5, size and version)
    kStale,      // an upload's pair that this one cannot resume: overwritten
    kForeign,    // files that no upload made (or cannot be shown to have made): left alone
  };
  // All with m_mutex held. The resume file stays open until the upload finishes.
  PairState InspectPair(const std::string& temporary, const std::string& resume, SegmentTable* resumed);
  // Chooses and holds the pair (sets m_header.path and pathProject); *resumed gets the resumed table.
  bool ClaimPair(SegmentTable* resumed);
  bool WriteResumeFile();
  void RecordWrittenSegment(const std::string& key);
  // The closed temporary file's MD5 against the header's: kPlaced when they agree, kDigestMismatch
  // when they differ, kNotPlaced when the file could not be read.
  FinishResult CheckDigest();
  // Renames the temporary file to a final path that no file holds; false when none is free or the
  // rename failed.
  bool PlaceUpload();

  std::mutex m_mutex;
  // guards: everything below
  FileHeader m_header;
  std::string m_requestedPath;  // the final path the request named
  AFCFileRef m_file = 0;
  AFCFileRef m_resumeFile = 0;
  std::map<std::string, int64_t> m_statusOffsets;  // segment key -> byte of its status digit
  bool m_claimed = false;  // m_header.path and pathProject are this upload's own pair
  bool m_finished = false;
};

// The path itself when free on the device, else its first free numbered variant (NumberedPathVariant:
// "song(1).mp3", "README(1)"); "" when none is free.
std::string MakeUniqueDevicePath(AFCConnectionRef afc, const std::string& path);

}  // namespace hlx
