#include "code/utility/archive/zlibpp.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "code/utility/archive/archive.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/text/textconv.h"
#include "tests/unit/logcapture.h"

namespace fs = std::filesystem;

namespace {
std::vector<std::wstring> g_opened;
void RecordOpen(const std::wstring& sPath) { g_opened.push_back(sPath); }

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Put(const fs::path& p, const std::string& s) {
  std::ofstream out(p, std::ios::binary);
  out << s;
}

std::string Narrow(const fs::path& p) { return TextConv::WideToUtf8(p.wstring()); }

// A private folder in the Wine temporary folder with the archive beside the destination.
class UnZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t aTemp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, aTemp);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_root = fs::path(aTemp) / (L"qvzlib_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                TextConv::Utf8ToWide(info->name()));
    fs::remove_all(m_root);
    fs::create_directories(m_root / L"dest");
    m_dest = m_root / L"dest";
    m_archive = m_root / L"PCClient.zip";
    g_opened.clear();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_root, ec);
    if (!m_report.empty()) fs::remove(m_report, ec);
  }
  bool Unpack(const std::string& sArchive, CZLib& zlib) {
    Put(m_archive, sArchive);
    zlib.SetReportOpener(&RecordOpen);
    const bool bOk = zlib.UnZip(Narrow(m_archive).c_str(), Narrow(m_dest).c_str());
    m_report = fs::path(TextConv::Utf8ToWide(zlib.GetReportPath()));
    return bOk;
  }
  std::vector<fs::path> Tree() {
    std::vector<fs::path> out;
    for (auto& e : fs::recursive_directory_iterator(m_root)) out.push_back(fs::relative(e.path(), m_root));
    std::sort(out.begin(), out.end());
    return out;
  }
  fs::path m_root, m_dest, m_archive, m_report;
};

std::string Mixed(std::size_t n) {
  std::string s;
  std::uint32_t x = 7;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s += (i / 4096) % 2 ? static_cast<char>(x >> 24) : static_cast<char>('a' + i % 26);
  }
  return s;
}
}  // namespace

TEST_F(UnZipTest, WritesMembersCreatesFoldersAndDeletesTheArchive) {
  const std::string big = Mixed(300000);
  fs::create_directories(m_dest / L"bin");  // an existing folder is fine
  const std::string archive = PackageArchive::PackRecord("QVInstaller.exe", "MZ installer") +
                              PackageArchive::PackRecord("bin\\plugins\\deep\\codec.dll", big) +
                              PackageArchive::PackRecord("bin\\empty.cfg", "") +
                              PackageArchive::PackRecord("Gr\xC3\xBC\xC3\x9F" "e.txt", "hi");
  CZLib zlib;
  LogCapture log;
  ASSERT_TRUE(Unpack(archive, zlib));
  EXPECT_EQ(Slurp(m_dest / L"QVInstaller.exe"), "MZ installer");
  EXPECT_EQ(Slurp(m_dest / L"bin" / L"plugins" / L"deep" / L"codec.dll"), big);
  EXPECT_TRUE(fs::is_regular_file(m_dest / L"bin" / L"empty.cfg"));
  EXPECT_EQ(fs::file_size(m_dest / L"bin" / L"empty.cfg"), 0u);
  EXPECT_EQ(Slurp(m_dest / L"Gr\u00fc\u00dfe.txt"), "hi");
  EXPECT_FALSE(fs::exists(m_archive));
  EXPECT_TRUE(g_opened.empty());
  EXPECT_EQ(Tree().size(), 8u);  // dest, bin, plugins, deep and the four files: no leftovers
  EXPECT_TRUE(log.Contains("enter " + Narrow(m_archive) + " to " + Narrow(m_dest)));
  // Report name: temporary folder, "QV", calendar seconds.
  const std::string report = zlib.GetReportPath();
  EXPECT_EQ(report.rfind("QV"), report.find_last_of('\\') + 1);
  EXPECT_EQ(report.substr(report.size() - 4), ".txt");
}

// Folders are made with all their missing parents, the destination's
// among them; a file standing where a folder must go makes its members
// fail alone, and is left as it was.
TEST_F(UnZipTest, FoldersAreMadeWithTheirParentsAndAFileInTheWayIsListed) {
  m_dest = m_root / L"new" / L"deeper" / L"dest";
  const std::string archive = PackageArchive::PackRecord("a", "file a") +
                              PackageArchive::PackRecord("a\\b.txt", "under a file") +
                              PackageArchive::PackRecord("c\\d\\e.txt", "deep") +
                              PackageArchive::PackRecord("c\\d\\f.txt", "same folder") +
                              PackageArchive::PackRecord("c\\g.txt", "parent made on the way");
  CZLib zlib;
  LogCapture log;
  ASSERT_TRUE(Unpack(archive, zlib));
  EXPECT_EQ(Slurp(m_dest / L"a"), "file a");
  EXPECT_EQ(Slurp(m_dest / L"c" / L"d" / L"e.txt"), "deep");
  EXPECT_EQ(Slurp(m_dest / L"c" / L"d" / L"f.txt"), "same folder");
  EXPECT_EQ(Slurp(m_dest / L"c" / L"g.txt"), "parent made on the way");
  EXPECT_TRUE(log.Contains("can't create file " + Narrow(m_dest / L"a" / L"b.txt") + ", skip to the next one."));
  EXPECT_EQ(Slurp(m_report), "The following files failed to copy to the destination:\r\n\r\n" +
                                 Narrow(m_dest / L"a" / L"b.txt") + "\r\n");
  EXPECT_EQ(g_opened, std::vector<std::wstring>{m_report.wstring()});
}

// The temporary folder is shared: a report of the same second (another
// unpacking's, still open in an editor, or a file some program put there)
// is never written into or replaced; the next free number is taken.
TEST_F(UnZipTest, ReportTakesTheNextFreeNameAndLeavesOthersAlone) {
  wchar_t aTemp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, aTemp);
  const long long iNow = static_cast<long long>(time(nullptr));
  std::vector<fs::path> taken;
  for (long long i = iNow; i < iNow + 4; ++i) {  // a second may pass before the unpacking names its report
    taken.push_back(fs::path(aTemp) / (L"QV" + std::to_wstring(i) + L".txt"));
    if (!fs::exists(taken.back())) Put(taken.back(), "theirs");
  }
  std::map<fs::path, std::string> before;
  for (const fs::path& p : taken) before[p] = Slurp(p);

  CZLib zlib;
  ASSERT_TRUE(Unpack(PackageArchive::PackRecord("..\\escape.txt", "x"), zlib));
  for (const fs::path& p : taken) EXPECT_EQ(Slurp(p), before[p]) << p.string();
  EXPECT_EQ(std::count(taken.begin(), taken.end(), m_report), 0);
  EXPECT_EQ(Slurp(m_report), "The following files failed to copy to the destination:\r\n\r\n" +
                                 PackageArchive::TargetPath(Narrow(m_dest), "..\\escape.txt") + "\r\n");
  std::error_code ec;
  for (const fs::path& p : taken)
    if (before[p] == "theirs") fs::remove(p, ec);
}

TEST_F(UnZipTest, EmptyArchiveAndMissingArchive) {
  CZLib zlib;
  EXPECT_TRUE(Unpack("", zlib));
  EXPECT_FALSE(fs::exists(m_archive));
  LogCapture log;
  EXPECT_FALSE(zlib.UnZip(Narrow(m_archive).c_str(), Narrow(m_dest).c_str()));
  EXPECT_TRUE(log.Contains("Error code: 2, error: " + std::string(GetSocketErrorText(2))));
  EXPECT_TRUE(log.Contains("can't open " + Narrow(m_archive)));
}

// Names that would leave the destination are listed and skipped; nothing
// appears outside the destination, on the Windows drives or in the Linux
// file system behind Z:.
TEST_F(UnZipTest, NamesLeavingTheDestinationWriteNothingOutside) {
  const std::wstring tag = L"qv_evil_" + std::to_wstring(GetCurrentProcessId());
  const std::string t = TextConv::WideToUtf8(tag);
  const std::vector<std::string> evil = {
      "..\\" + t + "_1.txt",
      "..\\..\\" + t + "_2.txt",
      "sub\\..\\..\\" + t + "_3.txt",
      "sub/../../" + t + "_4.txt",
      "Z:\\tmp\\" + t + "_5.txt",
      "Z:" + t + "_6.txt",
      "\\tmp\\" + t + "_7.txt",
      "/tmp/" + t + "_8.txt",
      "\\\\?\\Z:\\tmp\\" + t + "_9.txt",
      "\\\\127.0.0.2\\share\\" + t + "_10.txt",
      "good.txt:" + t + "_11",
      "..",
      "NUL",
  };
  std::string archive = PackageArchive::PackRecord("good.txt", "good");
  for (const auto& name : evil) archive += PackageArchive::PackRecord(name, "evil");
  archive += PackageArchive::PackRecord("sub\\last.txt", "last");

  CZLib zlib;
  ASSERT_TRUE(Unpack(archive, zlib));
  EXPECT_EQ(Slurp(m_dest / L"good.txt"), "good");
  EXPECT_EQ(Slurp(m_dest / L"sub" / L"last.txt"), "last");
  EXPECT_EQ(Tree(), (std::vector<fs::path>{L"dest", L"dest\\good.txt", L"dest\\sub", L"dest\\sub\\last.txt"}));

  for (int i = 1; i <= 11; ++i) {
    const std::wstring file = tag + L"_" + std::to_wstring(i) + L".txt";
    for (const fs::path& dir : {m_root, m_root.parent_path(), fs::path(L"C:\\"), fs::path(L"C:\\tmp"),
                                fs::path(L"Z:\\"), fs::path(L"Z:\\tmp"), fs::current_path()}) {
      EXPECT_FALSE(fs::exists(dir / file)) << (dir / file).string();
    }
  }

  std::string expected = "The following files failed to copy to the destination:\r\n\r\n";
  for (const auto& name : evil) expected += PackageArchive::TargetPath(Narrow(m_dest), name) + "\r\n";
  EXPECT_EQ(Slurp(m_report), expected);
  EXPECT_EQ(g_opened, std::vector<std::wstring>{m_report.wstring()});
}

// A damaged member leaves no half-written file under its name; an older file
// there stays as it was and the members before it stay written.
TEST_F(UnZipTest, DamagedMemberLeavesTheOldFileAlone) {
  Put(m_dest / L"victim.bin", "previous version");
  std::string damaged = PackageArchive::PackRecord("victim.bin", Mixed(100000));
  damaged.resize(damaged.size() - 20000);
  CZLib zlib;
  LogCapture log;
  EXPECT_FALSE(Unpack(PackageArchive::PackRecord("first.txt", "1") + damaged, zlib));
  EXPECT_TRUE(log.Contains("iErr != Z_OK && iErr != Z_STREAM_END"));
  EXPECT_EQ(Slurp(m_dest / L"victim.bin"), "previous version");
  EXPECT_EQ(Slurp(m_dest / L"first.txt"), "1");
  EXPECT_EQ(Tree(), (std::vector<fs::path>{L"PCClient.zip", L"dest", L"dest\\first.txt", L"dest\\victim.bin"}));
  EXPECT_TRUE(g_opened.empty());
}

// A member whose target another process holds open is skipped and listed,
// the following members are written and the report is opened at the end.
TEST_F(UnZipTest, TargetHeldOpenByAnotherProcessIsListed) {
  Put(m_dest / L"Quorumvessel.exe", "running client");
  wchar_t aSelf[MAX_PATH];
  GetModuleFileNameW(nullptr, aSelf, MAX_PATH);
  const fs::path holder = fs::path(aSelf).parent_path() / L"fakes" / L"FileHolder.exe";
  ASSERT_TRUE(fs::exists(holder)) << holder.string();
  const fs::path ready = m_root / L"ready", release = m_root / L"release";
  std::wstring cmd = L"\"" + holder.wstring() + L"\" \"" + (m_dest / L"Quorumvessel.exe").wstring() + L"\" \"" +
                     ready.wstring() + L"\" \"" + release.wstring() + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  for (int i = 0; i < 600 && !fs::exists(ready); ++i) Sleep(50);
  ASSERT_TRUE(fs::exists(ready));

  const std::string archive = PackageArchive::PackRecord("a.txt", "A") +
                              PackageArchive::PackRecord("Quorumvessel.exe", Mixed(50000)) +
                              PackageArchive::PackRecord("c\\c.txt", "C");
  CZLib zlib;
  LogCapture log;
  const bool bOk = Unpack(archive, zlib);
  Put(release, "");
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);

  ASSERT_TRUE(bOk);
  const std::string held = Narrow(m_dest / L"Quorumvessel.exe");
  EXPECT_TRUE(log.Contains("can't create file " + held + ", skip to the next one."));
  // The system's reason comes first, under the reader's own name.
  const auto entries = log.entries();
  const auto it = std::find_if(entries.begin(), entries.end(), [&](const LoggedEntry& e) {
    return e.sMessage == "can't create file " + held + ", skip to the next one.";
  });
  ASSERT_NE(it, entries.begin());
  EXPECT_EQ(std::prev(it)->sFunction, "CCZLib::UnZip");
  EXPECT_EQ(std::prev(it)->sMessage.rfind("Error code: 32, error: ", 0), 0u) << std::prev(it)->sMessage;
  EXPECT_EQ(Slurp(m_dest / L"a.txt"), "A");
  EXPECT_EQ(Slurp(m_dest / L"c" / L"c.txt"), "C");
  EXPECT_EQ(Slurp(m_dest / L"Quorumvessel.exe"), "running client");
  EXPECT_FALSE(fs::exists(m_dest / L"Quorumvessel.exe.qvpart"));
  EXPECT_FALSE(fs::exists(m_archive));
  EXPECT_EQ(Slurp(m_report), "The following files failed to copy to the destination:\r\n\r\n" + held + "\r\n");
  EXPECT_EQ(g_opened, std::vector<std::wstring>{m_report.wstring()});

  // A second unpacking in the same second keeps the first report for the user.
  const std::string first = zlib.GetReportPath();
  Put(m_archive, PackageArchive::PackRecord("..", ""));
  ASSERT_TRUE(zlib.UnZip(Narrow(m_archive).c_str(), Narrow(m_dest).c_str()));
  const std::string second = zlib.GetReportPath();
  EXPECT_EQ(Slurp(m_report), "The following files failed to copy to the destination:\r\n\r\n" + held + "\r\n");
  ASSERT_EQ(g_opened.size(), 2u);
  EXPECT_EQ(TextConv::WideToUtf8(g_opened[1]), second);
  EXPECT_NE(first, second);
  EXPECT_EQ(Slurp(fs::path(g_opened[1])),
            "The following files failed to copy to the destination:\r\n\r\n" + Narrow(m_dest) + "\\..\r\n");
  fs::remove(fs::path(g_opened[1]));
}

namespace {
// A drive whose free space is g_iFakeFree less what the test folder holds,
// as the system would report it once written bytes reach the disk.
std::uint64_t g_iFakeFree = 0;
std::wstring g_sFakeRoot;
bool FakeFreeSpace(const std::wstring& sFolder, std::uint64_t* pFree) {
  EXPECT_EQ(sFolder.rfind(g_sFakeRoot, 0), 0u) << TextConv::WideToUtf8(sFolder);
  std::uint64_t iUsed = 0;
  for (auto& e : fs::recursive_directory_iterator(g_sFakeRoot)) {
    if (e.is_regular_file()) iUsed += e.file_size();
  }
  *pFree = iUsed < g_iFakeFree ? g_iFakeFree - iUsed : 0;
  return true;
}
bool NoFreeSpaceAnswer(const std::wstring&, std::uint64_t*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}
}  // namespace

// The unpacking stops before the drive would keep less than 256 MiB free;
// the member being written is thrown away and the archive kept.
TEST_F(UnZipTest, StopsBeforeTheDriveRunsLow) {
  g_sFakeRoot = m_dest.wstring();
  g_iFakeFree = CZLib::kMinFreeBytes + 200000;
  const std::string first = Mixed(120000), second = Mixed(150000);
  {
    CZLib zlib;
    zlib.SetFreeSpaceProbe(&FakeFreeSpace);
    LogCapture log;
    EXPECT_FALSE(Unpack(PackageArchive::PackRecord("first.bin", first) + PackageArchive::PackRecord("second.bin", second),
                        zlib));
    EXPECT_EQ(Slurp(m_dest / L"first.bin"), first);
    EXPECT_EQ(Tree(), (std::vector<fs::path>{L"PCClient.zip", L"dest", L"dest\\first.bin"}));
    const auto messages = log.messages();
    const std::string stop = "free space of " + Narrow(m_dest) + " would fall below 268435456 bytes, unpacking stopped";
    ASSERT_EQ(std::count(messages.begin(), messages.end(), stop), 1) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages.back(), "fwrite error");
    EXPECT_TRUE(g_opened.empty());
  }
  {
    // Room for both: all written.
    fs::remove(m_dest / L"first.bin");
    g_iFakeFree = CZLib::kMinFreeBytes + 270000;
    CZLib zlib;
    zlib.SetFreeSpaceProbe(&FakeFreeSpace);
    EXPECT_TRUE(Unpack(PackageArchive::PackRecord("first.bin", first) + PackageArchive::PackRecord("second.bin", second),
                       zlib));
    EXPECT_EQ(Slurp(m_dest / L"second.bin"), second);
  }
  {
    // A system that cannot say how much is free does not stop the unpacking.
    CZLib zlib;
    zlib.SetFreeSpaceProbe(&NoFreeSpaceAnswer);
    LogCapture log;
    EXPECT_TRUE(Unpack(PackageArchive::PackRecord("third.bin", first), zlib));
    EXPECT_EQ(Slurp(m_dest / L"third.bin"), first);
    EXPECT_EQ(log.messages()[1], "can't read the free space of " + Narrow(m_dest) + ", error code: 50");
  }
}

// Limits reach the unpacking, and the report lists its first lines and
// counts the rest.
TEST_F(UnZipTest, LimitsAndTheBoundedReport) {
  PackageArchive::Limits limits;
  limits.iMaxReportLines = 2;
  std::string archive;
  for (const char* name : {"..\\1", "..\\2", "..\\3", "..\\4"}) archive += PackageArchive::PackRecord(name, "x");
  archive += PackageArchive::PackRecord("ok.txt", "ok");
  CZLib zlib;
  zlib.SetLimits(limits);
  ASSERT_TRUE(Unpack(archive, zlib));
  const std::string dest = Narrow(m_dest);
  EXPECT_EQ(Slurp(m_report), "The following files failed to copy to the destination:\r\n\r\n" + dest + "\\..\\1\r\n" +
                                 dest + "\\..\\2\r\n2 more files failed to copy to the destination.\r\n");
  EXPECT_EQ(g_opened, std::vector<std::wstring>{m_report.wstring()});
  fs::remove(m_report);

  limits.iMaxInflatedBytes = 1000;
  zlib.SetLimits(limits);
  LogCapture log;
  EXPECT_FALSE(Unpack(PackageArchive::PackRecord("small.txt", "s") + PackageArchive::PackRecord("big.bin", Mixed(5000)),
                      zlib));
  EXPECT_TRUE(log.Contains("more than 1000 inflated bytes, unpacking stopped"));
  EXPECT_EQ(Slurp(m_dest / L"small.txt"), "s");
  EXPECT_FALSE(fs::exists(m_dest / L"big.bin"));
  EXPECT_FALSE(fs::exists(m_dest / L"big.bin.qvpart"));
  EXPECT_TRUE(fs::exists(m_archive));
}

// Whether this pass wrote the watched member (the installer) to its place.
TEST_F(UnZipTest, WatchedMember) {
  struct Case {
    const char* what;
    std::string archive;
    bool blockTarget;  // a folder of the member's name stands in the way
    bool written;
  } cases[] = {
      {"written", PackageArchive::PackRecord("a.txt", "a") + PackageArchive::PackRecord("QVInstaller.exe", "MZ"), false,
       true},
      {"name in other letter case", PackageArchive::PackRecord("qvinstaller.EXE", "MZ"), false, true},
      {"missing", PackageArchive::PackRecord("a.txt", "a"), false, false},
      {"in a sub-folder only", PackageArchive::PackRecord("bin\\QVInstaller.exe", "MZ"), false, false},
      {"cannot be created", PackageArchive::PackRecord("QVInstaller.exe", "MZ") + PackageArchive::PackRecord("b.txt", "b"),
       true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(m_dest);
    fs::create_directories(m_dest);
    if (c.blockTarget) fs::create_directories(m_dest / L"QVInstaller.exe");
    CZLib zlib;
    zlib.WatchMember("QVInstaller.exe");
    EXPECT_TRUE(Unpack(c.archive, zlib));
    EXPECT_EQ(zlib.WatchedMemberWritten(), c.written);
    if (fs::exists(m_report)) fs::remove(m_report);
  }
  CZLib unwatched;
  EXPECT_TRUE(Unpack(PackageArchive::PackRecord("QVInstaller.exe", "MZ"), unwatched));
  EXPECT_FALSE(unwatched.WatchedMemberWritten());
}
