#pragma once
// Test helper: collects the log entries written while it is alive.
#include <mutex>
#include <string>
#include <vector>

#include "code/utility/log/logsink.h"

struct LoggedEntry {
  std::string sFunction;
  int iSeverity;
  std::string sSource;
  std::string sMessage;
};

class LogCapture {
 public:
  LogCapture() {
    Entries().clear();
    m_pPrevious = LogSink::GetWriter();
    LogSink::SetWriter(&LogCapture::Store);
  }
  ~LogCapture() { LogSink::SetWriter(m_pPrevious); }
  std::vector<LoggedEntry> entries() const {
    std::lock_guard<std::mutex> lock(Mutex());
    return Entries();
  }
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& e : entries()) out.push_back(e.sMessage);
    return out;
  }
  bool Contains(const std::string& sMessage) const {
    for (const auto& e : entries()) if (e.sMessage == sMessage) return true;
    return false;
  }

 private:
  static void Store(const char* f, int sev, const char* src, int, const char* msg) {
    std::lock_guard<std::mutex> lock(Mutex());
    Entries().push_back({f, sev, src, msg});
  }
  static std::vector<LoggedEntry>& Entries() { static std::vector<LoggedEntry> v; return v; }
  static std::mutex& Mutex() { static std::mutex m; return m; }
  LogSink::Writer m_pPrevious;
};
