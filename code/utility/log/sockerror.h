#pragma once

// Readable text for a system or socket error number, for log lines such as
// "error code: %d, error: %s". Winsock numbers have fixed English texts; any
// other number gets the system's own message (UTF-8, possibly ending in
// CR LF, empty when the system has none). The text stays valid until the
// next call on the same thread.
const char* GetSocketErrorText(int iErrorCode);

// The fixed text for a Winsock number, or null for any other number.
const char* GetSocketErrorTableText(int iErrorCode);
