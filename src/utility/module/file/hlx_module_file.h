// The file module: files between the device (over AFC) and the PC or the desktop peer.
//   701  export the items of the data array, each [name, device path, PC folder]: a file, a
//        folder, or a book bundle (a folder whose name ends in ".epub", delivered as one zip file).
//        One progress reply per copied item (stage 2, data = the PC path written; code 0 when the
//        item arrived whole, 2 when it did not); the final reply is 0 only when every item arrived.
//   702  download one device file in segments. Stage 1 {"path"} answers the download header (stage
//        1); stage 2, a segment request, answers that segment's raw bytes (stage 2, type 1, info =
//        the request); stage 3 closes the transfer (stage 3).
//   703  upload one file in segments. Stage 1 carries the upload header and "info" {"name", and
//        "media" (0: /Books/) or "dir"}; the service asks for each missing segment (stage 2, data =
//        {"id","offset_length","offset"}), the peer sends it as a stage 2 request whose "info" names
//        it and whose data part is the raw bytes; after the last one the service answers stage 3
//        with the final device path (the named one, or "name(n).ext" / "name(n)" when that is
//        taken). The upload goes to "<path>.bak" beside a "<path>.json" resume file (the first free
//        "<path>(n).bak" and "<path>(n).json" when a file that no upload made holds either name), so
//        that after an interruption the same upload (the same MD5: without one nothing resumes)
//        asks only for what is missing. The
//        header's segments cover the file exactly and its "md5" is empty (no check) or 32
//        hexadecimal digits, else stage 1 fails with 8 before anything is written; a finished file
//        whose MD5 is another is removed, not placed (8). A segment sent again after it was written
//        must bring the same bytes: other bytes are refused (8) and the written ones stay.
// The requests of one transfer share its request id: the id names a task in the device's task map
// that holds the transfer between requests. A packet with status 1, or a cancel (600), releases the
// transfer (an unfinished upload is removed from the device). Stages that succeed are answered by
// their own replies only; a stage that fails ends with a final reply carrying its code (8 bad data,
// 12 no AFC service, 2 anything else). Stages 2 and 3 of a transfer that is no longer open, and
// requests of a cancelled transfer, are answered by nothing.
//
// Threads: any worker; the stages of one transfer may run on several workers at once.
#pragma once

#include "utility/hlx_feature_module.h"

namespace hlx {

class DhTask;
struct FileTransfer;

class HLXModuleFile : public HLXFeatureModule {
 protected:
  bool RunsEverySubCommand() const override { return true; }
  int Run(FeatureRequest& request) override;

 private:
  int Export(FeatureRequest& request);
  // The transfer kept in the task, made on the task's first request.
  std::shared_ptr<FileTransfer> TransferOf(FeatureRequest& request, DhTask& task);
  int Download(FeatureRequest& request, FileTransfer& transfer, int64_t stage);
  int Upload(FeatureRequest& request, FileTransfer& transfer, int64_t stage);
  int FinishUpload(FeatureRequest& request, FileTransfer& transfer);
};

}  // namespace hlx
