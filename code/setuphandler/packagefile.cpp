#include "code/setuphandler/packagefile.h"

#include "code/utility/log/logsink.h"

namespace {
const char kFunction[] = "SetupDownloader::Run";
const char kSource[] = "code/setuphandler/setupdownloader";
}  // namespace

class PackageFile::AttemptSink : public RangeResume::ReplySink {
 public:
  AttemptSink(PackageFile& file, int iAttempt) : m_oFile(file), m_iAttempt(iAttempt) {}
  long long ResumeFrom(std::string* pValidator) override { return m_oFile.ResumeFrom(m_iAttempt, pValidator); }
  bool Begin(const RangeResume::ReplyHead& head, long long iAskedFrom) override {
    return m_oFile.Begin(m_iAttempt, head, iAskedFrom);
  }
  bool Write(const char* pData, std::size_t n) override { return m_oFile.Write(m_iAttempt, pData, n); }
  long long Held() override { return m_oFile.Held(); }
  bool BrokenResumable() override { return m_oFile.BrokenResumable(m_iAttempt); }

 private:
  PackageFile& m_oFile;
  const int m_iAttempt;
};

PackageFile::PackageFile(std::unique_ptr<Output> pOutput, long long iSize)
    : m_pOutput(std::move(pOutput)), m_iSize(iSize) {}

int PackageFile::NewAttempt() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pOutput && !m_pOutput->Flush()) {
    // Bytes that did not reach the file cannot be continued.
    m_bResumable = false;
  }
  m_iBodyAttempt = 0;
  return ++m_iAttempt;
}

bool PackageFile::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bClosed = true;
  const bool bOk = m_pOutput && m_pOutput->Flush();
  m_pOutput.reset();
  return bOk;
}

long long PackageFile::Size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iSize;
}

long long PackageFile::Held() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iHeld;
}

bool PackageFile::CanResume() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bResumable && m_iHeld > 0 && m_iHeld < m_iSize;
}

void PackageFile::ForgetResume() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bResumable = false;
}

bool PackageFile::SizeChanged() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bSizeChanged;
}

void PackageFile::SetSize(long long iSize) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iSize = iSize;
  m_bSizeChanged = false;
  m_bResumable = false;
}

std::unique_ptr<RangeResume::ReplySink> PackageFile::SinkFor(int iAttempt) {
  return std::unique_ptr<RangeResume::ReplySink>(new AttemptSink(*this, iAttempt));
}

long long PackageFile::ResumeFrom(int iAttempt, std::string* pValidator) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (iAttempt != m_iAttempt || !m_bResumable || m_iHeld <= 0 || m_iHeld >= m_iSize) return 0;
  if (pValidator) *pValidator = m_sValidator;
  return m_iHeld;
}

bool PackageFile::Begin(int iAttempt, const RangeResume::ReplyHead& head, long long iAskedFrom) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (iAttempt != m_iAttempt || m_bClosed || !m_pOutput) return false;
  std::string sReason;
  const RangeResume::Verdict verdict = RangeResume::Judge(head, iAskedFrom, m_iSize, &sReason);
  if (verdict == RangeResume::Verdict::kRefuse) {
    QV_LOG(kFunction, 3, kSource, "reply not taken: %s", sReason.c_str());
    return false;
  }
  const std::string sValidator = RangeResume::ChooseValidator(head);
  if (verdict == RangeResume::Verdict::kAppend) {
    // The rest of another package must not follow these bytes, whatever
    // the server made of the If-Range.
    if (iAskedFrom != m_iHeld || (!sValidator.empty() && sValidator != m_sValidator)) {
      QV_LOG(kFunction, 3, kSource, "reply not taken: 206 from %lld with validator %s, %lld bytes held with %s",
             iAskedFrom, sValidator.c_str(), m_iHeld, m_sValidator.c_str());
      return false;
    }
  } else {
    if (head.iContentLength >= 0 && head.iContentLength != m_iSize) {
      QV_LOG(kFunction, 3, kSource, "reply not taken: package of %lld bytes, %lld expected", head.iContentLength,
             m_iSize);
      m_bSizeChanged = true;
      return false;
    }
    if (!m_pOutput->Restart()) {
      QV_LOG(kFunction, 3, kSource, "reply not taken: the package file cannot be emptied");
      m_bResumable = false;
      return false;
    }
    m_iHeld = 0;
    m_sValidator = sValidator;
  }
  m_bResumable = RangeResume::AllowsResume(head);
  m_iBodyAttempt = iAttempt;
  return true;
}

bool PackageFile::Write(int iAttempt, const char* pData, std::size_t n) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (iAttempt != m_iAttempt || m_iBodyAttempt != iAttempt || m_bClosed || !m_pOutput) return false;
  if (static_cast<long long>(n) > m_iSize - m_iHeld) return false;
  if (!m_pOutput->Append(pData, n)) {
    QV_LOG(kFunction, 3, kSource, "the package file takes no more bytes after %lld", m_iHeld);
    m_bResumable = false;
    m_iBodyAttempt = 0;
    return false;
  }
  m_iHeld += static_cast<long long>(n);
  return true;
}

bool PackageFile::BrokenResumable(int iAttempt) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // Another package size: every other way would bring the same reply.
  if (m_bSizeChanged) return true;
  return iAttempt == m_iAttempt && m_iBodyAttempt == iAttempt && m_bResumable && m_iHeld > 0 && m_iHeld < m_iSize;
}
