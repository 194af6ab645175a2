#include "code/utility/archive/archive.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/unit/logcapture.h"

namespace {
const std::string kDest = "C:\\users\\qv\\Temp\\qv_starter_dir";

// Records what the unpacking asked of the file system.
struct MemorySink : PackageArchive::Sink {
  std::vector<std::string> folders;
  std::map<std::string, std::string> files;  // committed members
  std::vector<std::string> failed;
  std::vector<std::string> discarded;
  std::uint32_t omitted = 0;
  std::uint64_t written = 0;  // bytes of every member, also discarded ones
  std::set<std::string> refuseBegin;   // held open by someone else
  std::set<std::string> refuseCommit;
  std::map<std::string, int> folderErrors;
  std::size_t writeBudget = static_cast<std::size_t>(-1);
  std::string current;
  std::string pending;
  bool open = false;

  int CreateFolders(const std::string& f) override {
    folders.push_back(f);
    auto it = folderErrors.find(f);
    return it == folderErrors.end() ? 0 : it->second;
  }
  bool BeginFile(const std::string& t) override {
    EXPECT_FALSE(open);
    if (refuseBegin.count(t)) return false;
    current = t;
    pending.clear();
    open = true;
    return true;
  }
  std::size_t WriteFile(const void* p, std::size_t n) override {
    EXPECT_TRUE(open);
    if (n > writeBudget) return 0;
    writeBudget -= n;
    written += n;
    pending.append(static_cast<const char*>(p), n);
    return n;
  }
  bool CommitFile() override {
    EXPECT_TRUE(open);
    open = false;
    if (refuseCommit.count(current)) return false;
    files[current] = pending;
    return true;
  }
  void DiscardFile() override {
    EXPECT_TRUE(open);
    open = false;
    discarded.push_back(current);
  }
  void ReportFailed(const std::string& t) override { failed.push_back(t); }
  void ReportOmitted(std::uint32_t n) override {
    EXPECT_EQ(omitted, 0u);  // once
    omitted = n;
  }
};

std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

std::string RawRecord(const std::string& nameField, const std::string& data, std::uint32_t nameLen,
                      std::uint32_t dataLen) {
  return Le32(nameLen) + nameField + Le32(dataLen) + std::string("\x01\x00", 2) + data;
}

bool Unpack(const std::string& archive, MemorySink& sink,
            const PackageArchive::Limits& limits = PackageArchive::Limits()) {
  PackageArchive::MemorySource source(archive.data(), archive.size());
  return PackageArchive::Extract(source, kDest, sink, limits);
}

std::string Big(std::size_t n) {
  std::string s;
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s += static_cast<char>((i % 3 == 0) ? 'a' + (i / 7) % 26 : (x >> 16) & 0xFF);
  }
  return s;
}
}  // namespace

TEST(Extract, WritesEveryMemberWithItsFolders) {
  const std::string big = Big(3 * 4096 + 17);  // several buffers in and out
  const std::string archive = PackageArchive::PackRecord("QVInstaller.exe", "MZ\x90\x00stub") +
                              PackageArchive::PackRecord("bin\\plugins\\a.dll", big) +
                              PackageArchive::PackRecord("empty.txt", "") +
                              PackageArchive::PackRecord("bin/b.txt", "line\n");
  MemorySink sink;
  LogCapture log;
  ASSERT_TRUE(Unpack(archive, sink));
  EXPECT_EQ(sink.files.size(), 4u);
  EXPECT_EQ(sink.files[kDest + "\\QVInstaller.exe"], std::string("MZ\x90\x00stub"));
  EXPECT_EQ(sink.files[kDest + "\\bin\\plugins\\a.dll"], big);
  EXPECT_EQ(sink.files[kDest + "\\empty.txt"], "");
  EXPECT_EQ(sink.files[kDest + "\\bin\\b.txt"], "line\n");
  EXPECT_EQ(sink.folders, (std::vector<std::string>{kDest, kDest + "\\bin\\plugins", kDest, kDest + "\\bin"}));
  EXPECT_TRUE(sink.failed.empty());
  EXPECT_TRUE(log.entries().empty());
}

TEST(Extract, EmptyArchiveIsComplete) {
  MemorySink sink;
  EXPECT_TRUE(Unpack("", sink));
  EXPECT_TRUE(sink.files.empty());
  EXPECT_TRUE(sink.folders.empty());
}

TEST(Extract, DestinationWithTrailingSeparator) {
  MemorySink sink;
  const std::string archive = PackageArchive::PackRecord("a.txt", "x");
  PackageArchive::MemorySource source(archive.data(), archive.size());
  ASSERT_TRUE(PackageArchive::Extract(source, "D:\\out\\", sink));
  EXPECT_EQ(sink.files.count("D:\\out\\a.txt"), 1u);
}

TEST(Extract, RefusedNamesAreListedAndSkipped) {
  struct Case {
    std::string name;
    std::string reason;
  } cases[] = {
      {"..\\..\\evil.txt", "leaves the destination"},
      {"C:\\evil.txt", "drive or stream name"},
      {"\\\\127.0.0.2\\share\\evil.txt", "absolute path"},
      {"/tmp/evil.txt", "absolute path"},
      {"ok.txt:evil", "drive or stream name"},
      {"sub/../../evil.txt", "leaves the destination"},
      {std::string(300, 'n'), "path too long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string archive = PackageArchive::PackRecord("first.txt", "1") +
                                PackageArchive::PackRecord(c.name, "evil") +
                                PackageArchive::PackRecord("last.txt", "3");
    MemorySink sink;
    LogCapture log;
    ASSERT_TRUE(Unpack(archive, sink));
    EXPECT_EQ(sink.files.size(), 2u);
    EXPECT_EQ(sink.files[kDest + "\\first.txt"], "1");
    EXPECT_EQ(sink.files[kDest + "\\last.txt"], "3");
    EXPECT_EQ(sink.failed, std::vector<std::string>{PackageArchive::TargetPath(kDest, c.name)});
    EXPECT_EQ(sink.folders, (std::vector<std::string>{kDest, kDest}));  // none for the refused one
    EXPECT_TRUE(log.Contains("unsafe member name (" + c.reason + "): " + c.name + ", skip to the next one."));
  }
}

TEST(Extract, LeadingSignatureMemberIsNeverWritten) {
  // Stored as the signer stores it (no compression), and compressed: both skipped.
  const std::string sig = std::string("QVSIG1\nkey 0011223344556677\n") + std::string(64, '\xAB');
  for (int level : {0, 6}) {
    SCOPED_TRACE(level);
    const std::string archive = PackageArchive::PackRecord(".qvsignature", sig, 0, level) +
                                PackageArchive::PackRecord("QVInstaller.exe", "MZ") +
                                PackageArchive::PackRecord("bin\\a.txt", "A");
    MemorySink sink;
    LogCapture log;
    ASSERT_TRUE(Unpack(archive, sink));
    EXPECT_EQ(sink.files, (std::map<std::string, std::string>{{kDest + "\\QVInstaller.exe", "MZ"},
                                                              {kDest + "\\bin\\a.txt", "A"}}));
    EXPECT_EQ(sink.folders, (std::vector<std::string>{kDest, kDest + "\\bin"}));
    EXPECT_TRUE(sink.failed.empty());
    EXPECT_EQ(sink.written, 3u);
    EXPECT_TRUE(log.entries().empty());
  }
}

TEST(Extract, SignatureNameElsewhereIsRefused) {
  struct Case {
    std::string archive;
    std::string refused;
  } cases[] = {
      // Not first: a package whose signature would cover nothing before it.
      {PackageArchive::PackRecord("a.txt", "A") + PackageArchive::PackRecord(".qvsignature", "x"), ".qvsignature"},
      // A second one after the leading one.
      {PackageArchive::PackRecord(".qvsignature", "s") + PackageArchive::PackRecord("a.txt", "A") +
           PackageArchive::PackRecord(".qvsignature", "x"),
       ".qvsignature"},
      // Another case is the same file on Windows.
      {PackageArchive::PackRecord(".QVSignature", "x") + PackageArchive::PackRecord("a.txt", "A"), ".QVSignature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refused);
    MemorySink sink;
    LogCapture log;
    ASSERT_TRUE(Unpack(c.archive, sink));
    EXPECT_EQ(sink.files, (std::map<std::string, std::string>{{kDest + "\\a.txt", "A"}}));
    EXPECT_EQ(sink.failed, std::vector<std::string>{kDest + "\\" + c.refused});
    EXPECT_TRUE(log.Contains("unsafe member name (reserved name): " + c.refused + ", skip to the next one."));
  }
}

TEST(Extract, MemberThatCannotBeCreatedIsListedAndTheRestWritten) {
  const std::string archive = PackageArchive::PackRecord("a.txt", "A") + PackageArchive::PackRecord("held.exe", Big(9000)) +
                              PackageArchive::PackRecord("c.txt", "C") + PackageArchive::PackRecord("late.dll", "L");
  MemorySink sink;
  sink.refuseBegin.insert(kDest + "\\held.exe");
  sink.refuseCommit.insert(kDest + "\\late.dll");
  LogCapture log;
  ASSERT_TRUE(Unpack(archive, sink));
  EXPECT_EQ(sink.files.size(), 2u);
  EXPECT_EQ(sink.files[kDest + "\\c.txt"], "C");
  EXPECT_EQ(sink.failed, (std::vector<std::string>{kDest + "\\held.exe", kDest + "\\late.dll"}));
  EXPECT_TRUE(log.Contains("can't create file " + kDest + "\\held.exe, skip to the next one."));
  EXPECT_TRUE(log.Contains("can't create file " + kDest + "\\late.dll, skip to the next one."));
}

TEST(Extract, DamagedArchivesEndTheUnpacking) {
  const std::string good = PackageArchive::PackRecord("good.txt", "kept");
  const std::string member = PackageArchive::PackRecord("m.bin", Big(5000));
  const std::string stream = member.substr(4 + 6 + 4 + 2);
  std::string flipped = member;
  flipped[flipped.size() - 100] ^= 0x55;
  struct Case {
    const char* what;
    std::string tail;
    const char* line;
    bool discarded;  // the damaged member was started and thrown away
  } cases[] = {
      {"name length 0", Le32(0) + "x", "fread error", false},
      {"name length past the end", Le32(50) + "short", "fread error", false},
      {"name length over the bound", Le32(513) + std::string(600, 'a'), "fread error", false},
      {"cut length field", std::string("\x05\x00", 2), "fread error", false},
      {"cut data length", Le32(2) + std::string("b\0", 2) + "\x01", "fread lFileLength error", false},
      {"cut file mask", Le32(2) + std::string("b\0", 2) + Le32(3) + "\x01", "fread iFileMask error", false},
      {"data length 0", RawRecord(std::string("e\0", 2), "", 2, 0), "iErr != Z_OK && iErr != Z_STREAM_END", true},
      {"damaged stream", flipped, "iErr != Z_OK && iErr != Z_STREAM_END", true},
      {"cut stream", member.substr(0, member.size() - 10), "iErr != Z_OK && iErr != Z_STREAM_END", true},
      {"not zlib", RawRecord(std::string("z\0", 2), "garbage!", 2, 8), "iErr != Z_OK && iErr != Z_STREAM_END", true},
      {"data length past the end", RawRecord(std::string("d\0", 2), stream, 2, stream.size() + 5), "fread error",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySink sink;
    LogCapture log;
    EXPECT_FALSE(Unpack(good + c.tail, sink));
    EXPECT_EQ(log.messages(), std::vector<std::string>{c.line});
    EXPECT_EQ(sink.files.size(), 1u);
    EXPECT_EQ(sink.files[kDest + "\\good.txt"], "kept");
    EXPECT_EQ(sink.discarded.size(), c.discarded ? 1u : 0u);
    EXPECT_FALSE(sink.open);
  }
}

TEST(Extract, NameFieldEndsAtItsNulAndNeverBeyond) {
  const std::string stream = PackageArchive::PackRecord("x", "data").substr(4 + 2 + 4 + 2);
  const std::string archive = RawRecord("abc", stream, 3, stream.size()) +                      // no NUL
                              RawRecord(std::string("de\0zz\0", 6), stream, 6, stream.size());  // NUL inside
  MemorySink sink;
  ASSERT_TRUE(Unpack(archive, sink));
  EXPECT_EQ(sink.files[kDest + "\\abc"], "data");
  EXPECT_EQ(sink.files[kDest + "\\de"], "data");
  EXPECT_EQ(sink.files.size(), 2u);
}

TEST(Extract, BytesAfterTheStreamBelongToTheMember) {
  const std::string stream = PackageArchive::PackRecord("x", "data").substr(4 + 2 + 4 + 2);
  const std::string padded = stream + "PADDING";
  const std::string archive = RawRecord(std::string("p\0", 2), padded, 2, padded.size()) +
                              PackageArchive::PackRecord("next.txt", "next");
  MemorySink sink;
  ASSERT_TRUE(Unpack(archive, sink));
  EXPECT_EQ(sink.files[kDest + "\\p"], "data");
  EXPECT_EQ(sink.files[kDest + "\\next.txt"], "next");
}

TEST(Extract, FolderErrors) {
  const std::string archive = PackageArchive::PackRecord("a\\f.txt", "1") + PackageArchive::PackRecord("b\\g.txt", "2");
  {
    MemorySink sink;
    sink.folderErrors[kDest + "\\a"] = 183;  // exists already
    sink.folderErrors[kDest + "\\b"] = 80;
    ASSERT_TRUE(Unpack(archive, sink));
    EXPECT_EQ(sink.files.size(), 2u);
  }
  {
    MemorySink sink;
    sink.folderErrors[kDest + "\\b"] = 5;
    LogCapture log;
    EXPECT_FALSE(Unpack(archive, sink));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"SHCreateDirectoryEx error: " + kDest + "\\b\\g.txt, error code = 5"});
    EXPECT_EQ(sink.files.size(), 1u);
  }
}

TEST(Extract, WriteFailureEndsTheUnpacking) {
  const std::string archive = PackageArchive::PackRecord("a.bin", Big(10000)) + PackageArchive::PackRecord("b.txt", "b");
  MemorySink sink;
  sink.writeBudget = 5000;
  LogCapture log;
  EXPECT_FALSE(Unpack(archive, sink));
  EXPECT_EQ(log.messages(), std::vector<std::string>{"fwrite error"});
  EXPECT_TRUE(sink.files.empty());
  EXPECT_EQ(sink.discarded, std::vector<std::string>{kDest + "\\a.bin"});
}

TEST(ListRecords, HeadersInOrder) {
  const std::string archive = PackageArchive::PackRecord("a\\b.txt", "hello", 7) + PackageArchive::PackRecord("c", "");
  PackageArchive::MemorySource source(archive.data(), archive.size());
  std::vector<PackageArchive::RecordInfo> seen;
  std::string error;
  ASSERT_TRUE(PackageArchive::ListRecords(
      source, [](const PackageArchive::RecordInfo& r, void* p) { static_cast<decltype(seen)*>(p)->push_back(r); },
      &seen, &error));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].sName, "a\\b.txt");
  EXPECT_EQ(seen[0].iFileMask, 7);
  EXPECT_EQ(seen[1].sName, "c");
  EXPECT_EQ(seen[1].iDataLength, archive.size() - (4 + 8 + 4 + 2 + seen[0].iDataLength) - (4 + 2 + 4 + 2));
}

TEST(Extract, LimitsStopTheUnpacking) {
  PackageArchive::Limits bytes;
  bytes.iMaxInflatedBytes = 10000;
  PackageArchive::Limits members;
  members.iMaxMembers = 3;
  const std::string a = PackageArchive::PackRecord("a.bin", Big(6000));
  const std::string b = PackageArchive::PackRecord("b.bin", Big(6000));
  const std::string four = PackageArchive::PackRecord("4.txt", Big(4000));
  const std::string refused = PackageArchive::PackRecord("..\\x", "x");
  struct Case {
    const char* what;
    std::string archive;
    PackageArchive::Limits limits;
    bool complete;
    std::vector<std::string> committed;
    std::vector<std::string> logs;
  } cases[] = {
      {"bytes pass the cap", a + b, bytes, false, {"a.bin"}, {"more than 10000 inflated bytes, unpacking stopped"}},
      {"bytes reach the cap", a + PackageArchive::PackRecord("c.bin", Big(4000)), bytes, true, {"a.bin", "c.bin"},
       {}},
      {"members pass the cap", four + refused + four + PackageArchive::PackRecord("late.txt", ""), members, false,
       {"4.txt"},
       {"unsafe member name (leaves the destination): ..\\x, skip to the next one.",
        "more than 3 members, unpacking stopped"}},
      {"members reach the cap", four + refused + four, members, true, {"4.txt"},
       {"unsafe member name (leaves the destination): ..\\x, skip to the next one."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySink sink;
    LogCapture log;
    EXPECT_EQ(Unpack(c.archive, sink, c.limits), c.complete);
    std::vector<std::string> committed;
    for (const auto& f : sink.files) committed.push_back(f.first.substr(kDest.size() + 1));
    EXPECT_EQ(committed, c.committed);
    EXPECT_EQ(log.messages(), c.logs);
    EXPECT_LE(sink.written, c.limits.iMaxInflatedBytes);  // nothing beyond the cap reaches the disk
    EXPECT_FALSE(sink.open);
  }
}

// The report and the log list the first failed members; the rest are counted.
TEST(Extract, FailureListIsBounded) {
  PackageArchive::Limits limits;
  limits.iMaxReportLines = 2;
  const std::string archive = PackageArchive::PackRecord("..\\1", "x") + PackageArchive::PackRecord("held.exe", "h") +
                              PackageArchive::PackRecord("..\\3", "x") + PackageArchive::PackRecord("ok.txt", "ok") +
                              PackageArchive::PackRecord("late.dll", "l") + PackageArchive::PackRecord("C:\\6", "x");
  MemorySink sink;
  sink.refuseBegin.insert(kDest + "\\held.exe");
  sink.refuseCommit.insert(kDest + "\\late.dll");
  LogCapture log;
  ASSERT_TRUE(Unpack(archive, sink, limits));
  EXPECT_EQ(sink.failed, (std::vector<std::string>{kDest + "\\..\\1", kDest + "\\held.exe"}));
  EXPECT_EQ(sink.omitted, 3u);
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"unsafe member name (leaves the destination): ..\\1, skip to the next one.",
                                                      "can't create file " + kDest + "\\held.exe, skip to the next one.",
                                                      "3 more members could not be written"}));
  EXPECT_EQ(sink.files.size(), 1u);

  // Within the limit nothing is counted away.
  MemorySink small;
  ASSERT_TRUE(Unpack(PackageArchive::PackRecord("..\\1", "x") + PackageArchive::PackRecord("..\\2", "x"), small, limits));
  EXPECT_EQ(small.failed.size(), 2u);
  EXPECT_EQ(small.omitted, 0u);
}

// The shipping bounds: 100,000 members at most, 1,000 of them listed.
TEST(Extract, DefaultBoundsOfMembersAndReport) {
  const std::string refused = RawRecord(std::string("..\0", 3), "", 3, 0);
  std::string archive;
  archive.reserve(refused.size() * (PackageArchive::kMaxMembers + 1));
  for (std::uint32_t i = 0; i < PackageArchive::kMaxMembers; ++i) archive += refused;
  {
    MemorySink sink;
    LogCapture log;
    EXPECT_TRUE(Unpack(archive, sink));
    EXPECT_EQ(sink.failed.size(), 1000u);
    EXPECT_EQ(sink.omitted, 99000u);
    EXPECT_EQ(log.messages().size(), 1001u);
    EXPECT_EQ(log.messages().back(), "99000 more members could not be written");
  }
  archive += refused;
  MemorySink sink;
  LogCapture log;
  EXPECT_FALSE(Unpack(archive, sink));
  const auto messages = log.messages();
  ASSERT_EQ(messages.size(), 1002u);
  EXPECT_EQ(messages[1000], "more than 100000 members, unpacking stopped");
  EXPECT_EQ(messages[1001], "99000 more members could not be written");
  EXPECT_EQ(sink.omitted, 99000u);
}
