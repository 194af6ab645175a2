#pragma once
#include <cstddef>
#include <string>

#include "code/utility/text/limits.h"

class QueryParameters;
class SetupDownloader;
class SetupInterface;

// State of one setup run and the parts of the handler that need no Windows
// call: settings intake and the launch link. SetupHandler (setuphandler.h)
// adds the thread and the steps that touch files, processes and the window.
class SetupState {
 public:
  static constexpr std::size_t kStarterSidSize = 128;
  static constexpr int kDefaultAccountServerPort = 8889;

  SetupState();
  virtual ~SetupState() = default;

  // Takes server, port, client name, version and starter sid from a settings
  // text and keeps a copy of the whole text.
  void ParseSetting(const char* sSetting);

  // Turns a launch link in m_sCommandLine into the settings text. The output
  // (iSettingSize bytes) is left untouched on every failure.
  void ProcessCommandLine(char* sSetting, std::size_t iSettingSize = Limits::kSetting);

  // The 29-element settings text made from a decrypted launch query.
  static std::string BuildSetting(const QueryParameters& oQuery);

  // Link values that may become parts of folder paths: a client name of
  // letters, digits, blanks, "-", "_" and "." without ".."; a version word of
  // letters, digits, ".", "-", "_" and "+" without "..". Both may be empty.
  static bool IsPlainClientName(const std::string& sName);
  static bool IsVersionWord(const std::string& sVersion);

  // True when the command line begins (after blanks and a quote) with a URL
  // scheme and a colon; a drive letter is not a scheme.
  static bool IsProtocolLink(const char* sCommandLine);

  // How the client or a downloader started the starter. The flags count only
  // on a command line that is not a protocol link: any web page can open a
  // link, and a flag inside one would force a reinstall from a stale
  // parameter file. A flag ignored for that is logged under sFunction.
  enum class CalledBy { kNone, kDownloader, kClientToSync };
  CalledBy CalledByFlag(const char* sFunction) const;

  // What the scheme, colon and last query item of a link leave after the
  // query parser has consumed it: the form the installer can always be given.
  static std::string LinkRemainder(const std::string& sCommandLine);

  // The installer's command line: its quoted path and the starter's whole
  // command line; a link too long for a process command line of iCapacity
  // UTF-16 units (terminator included) is passed on as its remainder.
  std::string InstallerCommandLine(const std::string& sInstaller, std::size_t iCapacity) const;

  // True when the text carries the Role start tag (settings embedded in the
  // executable are accepted only then).
  static bool HasRole(const char* sSetting);

  // First word of a version file: leading white space skipped, ended by a
  // blank, tab or line break, at most a value buffer's length.
  static std::string VersionWord(const std::string& sContent);

  char m_sAccountServerName[Limits::kValue];
  int m_iAccountServerPort;
  char m_sClientName[Limits::kValue];
  char m_sVersion[Limits::kValue];
  char m_sSetting[Limits::kSettingCopy];
  char m_sCurrentDirectory[Limits::kPath];
  char m_sCurrentFile[Limits::kPath];
  char m_sClientDirectory[Limits::kPath];
  char m_sSetupFile[Limits::kPath];
  SetupDownloader* m_pSetupDownloader;
  SetupInterface* m_pSetupInterface;
  char m_sTempDirectory[Limits::kPath];
  char m_sSetupDirectory[Limits::kPath];
  char m_sUserApplicationDirectory[Limits::kPath];
  char m_sStartMenuDirectory[Limits::kPath];
  char m_sDesktopDirectory[Limits::kPath];
  // The command line exactly as the process received it; parsing works on
  // copies so the installer later gets it whole.
  char m_sCommandLine[Limits::kCommandLine];
  bool m_bCalledByClientToSyncVersion;
  bool m_bIsClientInstalled;
  bool m_bIsVersionSynced;
  bool m_bClientFilesAvailable;
  bool m_bCalledByCommandLine;
  char m_sStarterSid[kStarterSidSize];
};
