#pragma once
#include <filesystem>

// qvpack publish: packs a client folder into a document root that any static
// web server can serve as the account server's package answers:
//   <root>/as/wapi/get_client        the package
//   <root>/as/wapi/get_client_size   "<__ClientSize__>N</__ClientSize__>"
//   <root>/as/wapi/ssi               "OK" (written only when missing)
namespace QvPublish {

// Packs folder into an archive at the given path (qvpack's own "pack"):
// 0 on success, non-zero after printing why.
using PackFunction = int (*)(const std::filesystem::path& folder, const std::filesystem::path& archive, int iLevel);

// Runs "publish [--level N] <folder> <root>" from argv[2] on; the exit status.
int Run(int argc, char** argv, PackFunction pack);

}  // namespace QvPublish
