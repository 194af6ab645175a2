#pragma once
#include <cstddef>
#include <string>

// The configuration cache: a tagged text file of cached settings shared by
// every starter of the user, ending with "</__CACHE__>". Within the process
// one lock serialises the operations, across processes the named mutex
// "QVCacheFileMutex". Each operation opens, reads (and rewrites) the file.
class MyConfigure {
 public:
  static constexpr const char kEndMarker[] = "</__CACHE__>";
  static constexpr const char kMutexName[] = "QVCacheFileMutex";
  static constexpr int kMutexWaitMs = 5000;

  // Creates the process-wide instance (once; a second call logs and fails)
  // with the file at DefaultFilePath(), made when missing.
  static bool Initialize(int iMode);
  static MyConfigure* GetInstance();

  // Per user: "<local application data>\\Quorumvessel\\QVStarterCache.txt".
  static std::string DefaultFilePath();
  // What a new cache file holds: the elements the starter writes and the end marker.
  static const char* DefaultContent();

  // Points the instance at a file, creating it (and its folder) with the
  // default content when missing. False when the path is too long or the
  // file cannot be made.
  bool SetFilePath(const char* sPath);
  const char* GetFilePath() const { return m_sFilePath; }

  // Value of one element into the caller's buffer (empty on failure).
  bool ReadConfigure(const char* sStartTag, const char* sEndTag, char* sOutput, std::size_t iOutputSize);
  template <std::size_t N>
  bool ReadConfigure(const char* sStartTag, const char* sEndTag, char (&sOutput)[N]) {
    return ReadConfigure(sStartTag, sEndTag, sOutput, N);
  }
  // Replaces the value of an element already in the file; text after the end
  // marker is dropped. A missing element leaves the file as it is (false).
  bool WriteConfigure(const char* sStartTag, const char* sEndTag, const char* sValue);

  // The new file text for a write: false when the element is missing.
  static bool RewriteText(const std::string& sOld, const char* sStartTag, const char* sEndTag,
                          const char* sValue, std::string& sNew);

 private:
  explicit MyConfigure(int iMode);
  bool ReadFile(std::string& sText);

  int m_iMode;
  char m_sFilePath[512] = {0};
  wchar_t m_wFilePath[512] = {0};
};
