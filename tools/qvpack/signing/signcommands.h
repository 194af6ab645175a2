#pragma once
#include <string>

// qvpack keygen / sign / verify (Linux builds, OpenSSL).
namespace SigningCommands {

// argv[1] is "keygen", "sign" or "verify". Exit status as qvpack's.
int Run(int argc, char** argv);

// Signs a package in place: its signature member (made anew, replacing
// one that leads the package) for the given client version. pSummary gets
// "key <id>, version <v>, <n> bytes, sha256 <hex>".
bool SignPackage(const std::string& sPackage, const std::string& sKeyPath, const std::string& sVersion,
                 std::string* pSummary, std::string* pError);

}  // namespace SigningCommands
