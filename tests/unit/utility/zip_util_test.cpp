// The zip helper against independent tools: archives it writes are checked with `unzip -t` and read
// back with Python's zipfile; archives it extracts are written by Python.
#include "utility/hlx_zip_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "unit/utility/utility_test_support.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

using test::ReadFile;
using test::ShellOutput;
using test::ShellQuote;
using test::TempFolder;
using test::WriteFile;

// Writes a zip with Python: each pair is (entry name, content); a name ending in '/' is a folder.
int MakeZipWithPython(const std::string& archive, const std::map<std::string, std::string>& entries) {
  std::string script = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n";
  for (const auto& [name, content] : entries) {
    script += "z.writestr(" + ShellQuote(name) + ", bytes.fromhex('";
    for (unsigned char c : content) {
      static const char kHex[] = "0123456789abcdef";
      script += kHex[c >> 4];
      script += kHex[c & 15];
    }
    script += "'))\n";
  }
  script += "z.close()\n";
  const std::string scriptPath = archive + ".py";
  if (!WriteFile(scriptPath, script)) return -1;
  int status = -1;
  ShellOutput(test::Python() + " " + ShellQuote(scriptPath) + " " + ShellQuote(archive), &status);
  std::remove(scriptPath.c_str());
  return status;
}

TEST(ZipUtil, FolderRoundTripsThroughToolsWithTheExclusionList) {
  TempFolder temp;
  const std::string source = temp / "report";
  ASSERT_EQ(system(("mkdir -p " + ShellQuote(source + "/sub/deeper")).c_str()), 0);
  const std::string binary = test::SeededBytes(200 * 1024, 7, false);
  ASSERT_TRUE(WriteFile(source + "/service.log", "log line\n"));
  ASSERT_TRUE(WriteFile(source + "/sub/deeper/data.bin", binary));
  ASSERT_TRUE(WriteFile(source + "/sub/Zoë's notes.txt", "\xF0\x9F\x98\x80 emoji"));
  ASSERT_TRUE(WriteFile(source + "/sub/old.ZIP", "excluded: the extension is compared in lower case"));
  ASSERT_TRUE(WriteFile(source + "/sub/tool.exe", "excluded"));
  ASSERT_TRUE(WriteFile(source + "/README", "no dot: never excluded"));

  ZipFileList files;
  ZipUtil::ListFilesRecursive(source, nullptr, &files);
  ASSERT_EQ(files.size(), 6u);
  EXPECT_EQ(files[source + "/sub/deeper/data.bin"], "sub/deeper/data.bin");

  const std::string archive = temp / "report.zip";
  ASSERT_TRUE(CreateZipFromFolder(files, archive, ";.zip;.exe;"));
  int status = -1;
  ShellOutput("unzip -tq " + ShellQuote(archive), &status);
  EXPECT_EQ(status, 0);
  const std::string listing =
      ShellOutput(test::Python() + " -c " +
                  ShellQuote("import sys, zipfile, hashlib\n"
                             "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                             "  print(i.filename, hashlib.sha1(zipfile.ZipFile(sys.argv[1]).read(i)).hexdigest())\n") +
                  " " + ShellQuote(archive));
  const std::string sha1 = ShellOutput("sha1sum " + ShellQuote(source + "/sub/deeper/data.bin") + " | cut -c1-40");
  EXPECT_EQ(listing, "README " + ShellOutput("printf 'no dot: never excluded' | sha1sum | cut -c1-40") +
                         "service.log " + ShellOutput("printf 'log line\\n' | sha1sum | cut -c1-40") +
                         "sub/Zoë's notes.txt " +
                         ShellOutput("printf '\\360\\237\\230\\200 emoji' | sha1sum | cut -c1-40") +
                         "sub/deeper/data.bin " + sha1);

  // And back: folders that have no entry of their own are made before their files.
  ZipUtil zip;
  const std::string target = temp / "out";
  ASSERT_TRUE(zip.ExtractToFolderW(Utf8ToWide(archive), target));
  EXPECT_EQ(ReadFile(target + "/sub/deeper/data.bin"), binary);
  EXPECT_EQ(ReadFile(target + "/sub/Zoë's notes.txt"), "\xF0\x9F\x98\x80 emoji");
  EXPECT_FALSE(test::PathExists(target + "/sub/old.ZIP"));
}

TEST(ZipUtil, EntriesThatLeaveTheFolderAreRefusedAndWriteNothingOutside) {
  for (const char* hostile : {"../evil.txt", "a/../../evil.txt", "/tmp/evil-abs.txt", "..\\evil.txt"}) {
    TempFolder temp;
    const std::string archive = temp / "slip.zip";
    ASSERT_EQ(MakeZipWithPython(archive, {{"a/ok.txt", "fine"}, {hostile, "escaped"}}), 0);
    ZipUtil zip;
    EXPECT_FALSE(zip.ExtractToFolderW(Utf8ToWide(archive), temp / "x/y")) << hostile;
    EXPECT_FALSE(test::PathExists(temp / "x/evil.txt")) << hostile;
    EXPECT_FALSE(test::PathExists(temp / "evil.txt")) << hostile;
    EXPECT_FALSE(test::PathExists("/tmp/evil-abs.txt")) << hostile;
  }
}

TEST(ZipUtil, EntryNamesFromOtherToolsLandWhereTheyName) {
  TempFolder temp;
  const std::string archive = temp / "names.zip";
  ASSERT_EQ(MakeZipWithPython(archive, {{"./", ""},
                                        {"./top.txt", "top"},
                                        {"win\\sub\\w.txt", "windows"},
                                        {"double//slash.txt", "double"},
                                        {"dots.../a..b .txt", "dots"},
                                        {"./\xE6\x97\xA5\xE6\x9C\xAC/", ""},
                                        {"\xE6\x97\xA5\xE6\x9C\xAC/./\xF0\x9F\x98\x80.txt", "emoji"}}),
            0);
  ZipUtil zip;
  ASSERT_TRUE(zip.ExtractToFolderW(Utf8ToWide(archive), temp / "out"));
  EXPECT_EQ(ReadFile(temp / "out/top.txt"), "top");
  EXPECT_EQ(ReadFile(temp / "out/win/sub/w.txt"), "windows");
  EXPECT_EQ(ReadFile(temp / "out/double/slash.txt"), "double");
  EXPECT_EQ(ReadFile(temp / "out/dots.../a..b .txt"), "dots");
  EXPECT_EQ(ReadFile(temp / "out/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80.txt"), "emoji");
}

TEST(ZipUtil, DriveLettersAndClimbsBehindDotsAreRefused) {
  for (const char* hostile : {"C:evil.txt", "c:/evil.txt", "./../evil.txt", "a/./../../evil.txt", ".\\..\\evil.txt"}) {
    TempFolder temp;
    const std::string archive = temp / "slip.zip";
    ASSERT_EQ(MakeZipWithPython(archive, {{hostile, "escaped"}}), 0);
    ZipUtil zip;
    EXPECT_FALSE(zip.ExtractToFolderW(Utf8ToWide(archive), temp / "x/y")) << hostile;
    EXPECT_FALSE(test::PathExists(temp / "x/evil.txt")) << hostile;
    EXPECT_FALSE(test::PathExists(temp / "evil.txt")) << hostile;
  }
}

TEST(ZipUtil, DamagedOrMissingArchivesFail) {
  TempFolder temp;
  ZipUtil zip;
  EXPECT_FALSE(zip.ExtractToFolderW(Utf8ToWide(temp / "missing.zip"), temp / "out"));

  const std::string archive = temp / "damaged.zip";
  ASSERT_EQ(MakeZipWithPython(archive, {{"big.txt", test::SeededBytes(100000, 3, true)}}), 0);
  std::string bytes = ReadFile(archive);
  const size_t body = bytes.find("big.txt") + 7;
  ASSERT_LT(body + 2000, bytes.size());
  bytes[body + 1000] ^= 0x55;  // inside the compressed data
  ASSERT_TRUE(WriteFile(archive, bytes));
  EXPECT_FALSE(zip.ExtractToFolderW(Utf8ToWide(archive), temp / "out"));

  ASSERT_TRUE(WriteFile(temp / "junk.zip", "PK\x05\x06 not really"));
  EXPECT_FALSE(zip.ExtractToFolderW(Utf8ToWide(temp / "junk.zip"), temp / "out"));
}

// The output table can be replaced: here every extracted file lands in memory instead of on disk.
struct MemoryOutput {
  std::map<std::string, std::string> files;
  std::string* current = nullptr;
};

TEST(ZipUtil, ExtractionWritesThroughTheCallersOutputTable) {
  TempFolder temp;
  const std::string archive = temp / "book.epub";
  ASSERT_EQ(MakeZipWithPython(archive,
                              {{"mimetype", "application/epub+zip"}, {"OEBPS/", ""}, {"OEBPS/ch1.xhtml", "<html/>"}}),
            0);
  MemoryOutput memory;
  ZipUtil zip;
  zip.outputTable.opaque = &memory;
  zip.outputTable.zopen64_file = [](voidpf user, const void* path, int mode) -> voidpf {
    auto* out = static_cast<MemoryOutput*>(user);
    if (mode != ZLIB_FILEFUNC_MODE_CREATE) return nullptr;
    out->current = &out->files[static_cast<const char*>(path)];
    return out->current;
  };
  zip.outputTable.zwrite_file = [](voidpf, voidpf stream, const void* buffer, uLong size) -> uLong {
    static_cast<std::string*>(stream)->append(static_cast<const char*>(buffer), size);
    return size;
  };
  zip.outputTable.zclose_file = [](voidpf, voidpf) { return 0; };
  std::vector<std::string> folders;
  static std::vector<std::string>* madeFolders = &folders;
  zip.makeFolder = [](void*, const char* path) {
    madeFolders->push_back(path);
    return 1;
  };
  zip.setFileTime = nullptr;
  // The narrow form hands the path to the archive table unchanged: a local-file table reads it.
  fill_fopen64_filefunc(&zip.archiveTable);

  ASSERT_TRUE(zip.ExtractToFolder(archive, "/device/Books/b1"));
  EXPECT_EQ(memory.files, (std::map<std::string, std::string>{{"/device/Books/b1/mimetype", "application/epub+zip"},
                                                              {"/device/Books/b1/OEBPS/ch1.xhtml", "<html/>"}}));
  EXPECT_EQ(folders, (std::vector<std::string>{"/device/Books/b1/", "/device/Books/b1/OEBPS/"}));
}

TEST(ZipUtil, IpaMetadataIsTheExactlyNamedEntryOnly) {
  TempFolder temp;
  const std::string with = temp / "with.ipa";
  const std::string without = temp / "without.ipa";
  const std::string plist = "<?xml version=\"1.0\"?><plist><dict/></plist>";
  ASSERT_EQ(MakeZipWithPython(with, {{"Payload/A.app/Info.plist", "x"}, {"iTunesMetadata.plist", plist}}), 0);
  ASSERT_EQ(MakeZipWithPython(without, {{"Payload/iTunesMetadata.plist", "x"}, {"itunesmetadata.plist", "x"}}), 0);
  EXPECT_EQ(ReadIpaMetadata(Utf8ToWide(with)), plist);
  EXPECT_EQ(ReadIpaMetadata(Utf8ToWide(without)), "");
  EXPECT_EQ(ReadIpaMetadata(Utf8ToWide(temp / "none.ipa")), "");
}

TEST(ZipUtil, ExtensionList) {
  EXPECT_TRUE(HasExtensionInList("/a/b/crash.ZIP", ";.zip;.exe;"));
  EXPECT_FALSE(HasExtensionInList("/a/b/zip", ";.zip;.exe;"));
  EXPECT_FALSE(HasExtensionInList("/a/b.zipx", ";.zip;.exe;"));
  EXPECT_FALSE(HasExtensionInList("/a/b.zip", nullptr));
}

}  // namespace
}  // namespace hlx
