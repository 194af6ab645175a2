#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "code/utility/net/rangeresume.h"

// The client package as it arrives: written to a file that outlives the
// download attempts, so that an attempt after a broken one can ask for the
// rest only. One attempt writes at a time; an attempt given up (timed out)
// may still be running, and its writes are refused from the moment the next
// attempt starts. The file itself is reached through Output (the Windows
// file in packagefile_win.cpp, memory in the tests).
class PackageFile {
 public:
  // The file: emptied by Restart, filled by Append in order.
  class Output {
   public:
    virtual ~Output() = default;
    virtual bool Restart() = 0;
    virtual bool Append(const char* pData, std::size_t n) = 0;
    // Everything appended is in the file.
    virtual bool Flush() = 0;
  };

  PackageFile(std::unique_ptr<Output> pOutput, long long iSize);
  PackageFile(const PackageFile&) = delete;
  PackageFile& operator=(const PackageFile&) = delete;

  // Starts attempt number n (returned); writes of the earlier attempts are
  // refused from now on and what they wrote is in the file.
  int NewAttempt();
  // Ends all writing (before the file is renamed); false when the bytes
  // could not all be stored.
  bool Close();

  long long Size() const;
  long long Held() const;
  // The next attempt asks for the rest (Held() bytes are kept).
  bool CanResume() const;
  // The next attempt asks for the whole package again.
  void ForgetResume();
  // A whole reply announced another size than expected: the size is to be
  // asked again (SetSize) before the next attempt.
  bool SizeChanged() const;
  void SetSize(long long iSize);

  // The sink through which attempt iAttempt's page request writes.
  std::unique_ptr<RangeResume::ReplySink> SinkFor(int iAttempt);

 private:
  class AttemptSink;
  long long ResumeFrom(int iAttempt, std::string* pValidator);
  bool Begin(int iAttempt, const RangeResume::ReplyHead& head, long long iAskedFrom);
  bool Write(int iAttempt, const char* pData, std::size_t n);
  bool BrokenResumable(int iAttempt);

  mutable std::mutex m_mutex;
  std::unique_ptr<Output> m_pOutput;
  long long m_iSize;
  long long m_iHeld = 0;
  int m_iAttempt = 0;
  bool m_bClosed = false;
  bool m_bResumable = false;     // the bytes held may be continued with a range
  std::string m_sValidator;      // of the reply the bytes held came with
  int m_iBodyAttempt = 0;        // attempt whose reply's body is being written
  bool m_bSizeChanged = false;
};

// Windows only ---------------------------------------------------------------

// The package file at sPath (UTF-8), created empty (replacing an old one),
// written through a buffer; null when it cannot be created.
std::unique_ptr<PackageFile::Output> CreatePackageOutput(const std::string& sPath);
