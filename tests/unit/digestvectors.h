#pragma once
// Test helper: the vectors of tests/unit/data/digest_vectors.txt, written by
// tests/tools/make_digest_vectors.py with Python's hashlib and base64. Each
// line holds the data as hex, its SHA-1 as hex, and its base64 without and
// with line breaks ("-" for an empty field, "|" for each line break).
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct DigestVector {
  std::string sHex;      // the data as the file writes it ("-" when empty)
  std::string sData;     // the data's bytes
  std::string sDigest;   // SHA-1, lowercase hex
  std::string sPlain;    // base64 without line breaks
  std::string sWrapped;  // base64 with a "\n" after every 76 characters
};

// Every vector of the file, in its order; empty when the file cannot be read.
inline std::vector<DigestVector> ReadDigestVectors() {
  std::vector<DigestVector> vectors;
  std::ifstream file(std::string(QV_SOURCE_DIR) + "/tests/unit/data/digest_vectors.txt");
  std::string sLine;
  while (std::getline(file, sLine)) {
    std::istringstream fields(sLine);
    DigestVector v;
    fields >> v.sHex >> v.sDigest >> v.sPlain >> v.sWrapped;
    if (v.sHex != "-") {
      for (std::size_t i = 0; i + 1 < v.sHex.size(); i += 2)
        v.sData += static_cast<char>(std::stoi(v.sHex.substr(i, 2), nullptr, 16));
    }
    if (v.sPlain == "-") v.sPlain.clear();
    if (v.sWrapped == "-") v.sWrapped.clear();
    for (auto& c : v.sWrapped)
      if (c == '|') c = '\n';
    vectors.push_back(v);
  }
  return vectors;
}
