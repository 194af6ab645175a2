#pragma once
#include <cstddef>
#include <map>
#include <string>

// Name/value pairs of a query string, ordered by name (byte-wise), one value
// per name; a later pair replaces an earlier one of the same name.
class QueryParameters {
 public:
  using Map = std::map<std::string, std::string>;

  // Adds the pairs of sBuffer, cut at cSeparator. The buffer is consumed:
  // each segment is moved to its start in turn, so afterwards it holds the
  // last segment. Segments without "=", with an empty name or with a name
  // longer than 511 characters are skipped. With bURLDecode, name and value
  // are URL-decoded after the split.
  void Parse(char* sBuffer, char cSeparator, bool bURLDecode);
  // Same rules on a copy of sText.
  void Parse(const std::string& sText, char cSeparator, bool bURLDecode);

  // The value stored under sName, or the empty string.
  std::string GetValue(const std::string& sName) const;
  bool Contains(const std::string& sName) const { return m_oParameters.count(sName) != 0; }
  std::size_t Size() const { return m_oParameters.size(); }
  bool Empty() const { return m_oParameters.empty(); }
  const Map& Items() const { return m_oParameters; }
  Map::const_iterator begin() const { return m_oParameters.begin(); }
  Map::const_iterator end() const { return m_oParameters.end(); }

  void Set(const std::string& sName, const std::string& sValue) { m_oParameters[sName] = sValue; }
  void Clear() { m_oParameters.clear(); }

 private:
  void AddSegment(const char* sSegment, bool bURLDecode);

  Map m_oParameters;
};
