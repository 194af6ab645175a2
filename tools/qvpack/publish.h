#pragma once
#include <filesystem>
#include <string>

// qvpack publish: packs a client folder into a document root that any static
// web server can serve as the account server's package answers:
//   <root>/as/wapi/get_client        the package
//   <root>/as/wapi/get_client_size   "<__ClientSize__>N</__ClientSize__>"
//   <root>/as/wapi/ssi               "OK" (written only when missing)
namespace QvPublish {

// Packs folder into an archive at the given path (qvpack's own "pack"):
// 0 on success, non-zero after printing why.
using PackFunction = int (*)(const std::filesystem::path& folder, const std::filesystem::path& archive, int iLevel);

// Signs a package in place with a private key for a client version (the
// signing commands' own); null in a build without them.
using SignFunction = bool (*)(const std::string& sPackage, const std::string& sKeyPath, const std::string& sVersion,
                              std::string* pSummary, std::string* pError);

// Runs "publish [--level N] [--key PRIVATE.pem --version V] <folder> <root>"
// from argv[2] on; the exit status. With --key the package is signed before
// it is served.
int Run(int argc, char** argv, PackFunction pack, SignFunction sign);

}  // namespace QvPublish
