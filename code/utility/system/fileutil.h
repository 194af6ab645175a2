#pragma once
#include <cstddef>
#include <memory>
#include <string>

// File helpers shared by start-up, the setup run and the error report.
// Paths are UTF-8 and become UTF-16 of at most 512 characters (terminator
// included) at the Windows call; a longer path is treated as not found.
// Blocks handed out are owned by the caller's unique_ptr.
namespace Utility {

// UTF-16 form of a path for Windows calls, empty when it does not fit.
std::wstring ToWidePath(const char* sPath, std::size_t iCapacity = 512);

// Reads a file whole in binary mode. The block holds the data followed by
// kReadWholeFileSpare bytes that are not initialised (room for a caller's
// terminator). On failure: false, oData empty, *pSize 0.
constexpr std::size_t kReadWholeFileSpare = 3072;
bool ReadWholeFile(const char* sPath, int iPathLength, std::size_t* pSize, std::unique_ptr<char[]>& oData);

// Reads a file whole and puts a zero byte after it. *pSize is 0 and oData
// empty when nothing was read (a missing file is logged).
void GetFileData(const char* sFileName, std::size_t* pSize, std::unique_ptr<char[]>& oData);

// Copies a file, replacing the destination. False when the source is
// missing (logged) or the copy failed.
bool CopyMyFile(const char* sSourceFile, const char* sDestinationFile);

// Deletes a folder with everything in it, read-only, hidden and system
// entries included. Entries whose full path contains sKeep (when not empty)
// are kept, and so are the folders above them. Links to folders are removed
// without touching what they point to. False only when the folder cannot be
// listed.
bool RemoveAllFile(const char* sPath, const char* sKeep);

// True when the file system has an entry (file or folder) at the path.
bool FileExists(const char* sPath);
bool FileExists(const std::string& sPath);

// The one way to read and write a small file whole.
// Reads a file in binary mode into sBytes (at most 2 GiB); false when it
// cannot be opened or its size read. A file that shrank while being read
// gives what was there. Logs nothing, so the crash filter may use it.
bool ReadFileBytes(const std::string& sPath, std::string& sBytes);
// Replaces a file with sText in text mode: each LF is stored as CR LF.
// False when it cannot be opened, written whole or flushed.
bool WriteTextFile(const std::string& sPath, const std::string& sText);
bool WriteTextFile(const std::wstring& wsPath, const std::string& sText);

}  // namespace Utility
