// One zip operation of the service's zip helper per process, so that bench_zip.py can time it beside
// zip and unzip doing the same work in processes of their own.
//
//   bench_zip_tool create <folder> <archive>    lists the folder and archives it (no exclusions)
//   bench_zip_tool extract <archive> <folder>   extracts the archive into the folder
#include <cstdio>
#include <cstring>
#include <string>

#include "utility/hlx_text.h"
#include "utility/hlx_zip_util.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_zip_tool create <folder> <archive> | extract <archive> <folder>\n");
    return 2;
  }
  if (std::strcmp(argv[1], "create") == 0) {
    hlx::ZipFileList files;
    hlx::ZipUtil::ListFilesRecursive(argv[2], nullptr, &files);
    return files.empty() || !hlx::CreateZipFromFolder(files, argv[3], nullptr) ? 1 : 0;
  }
  if (std::strcmp(argv[1], "extract") == 0) {
    hlx::ZipUtil zip;
    return zip.ExtractToFolderW(hlx::Utf8ToWide(std::string(argv[2])), argv[3]) ? 0 : 1;
  }
  return 2;
}
