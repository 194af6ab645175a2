#include "code/utility/protect/buildsettings.h"

// Compiled into each starter executable, so that a test build of its own can
// carry keys and servers other than the shipping build's.
#ifndef QV_PACKAGE_PUBLIC_KEYS
#define QV_PACKAGE_PUBLIC_KEYS ""
#endif
#ifndef QV_ACCOUNT_SERVERS
#define QV_ACCOUNT_SERVERS ""
#endif

// A starter target of its own (the keyed test build, the demo's keyed
// starter) carries its keys and servers instead of the build folder's.
#ifdef QV_STARTER_PACKAGE_PUBLIC_KEYS
#undef QV_PACKAGE_PUBLIC_KEYS
#define QV_PACKAGE_PUBLIC_KEYS QV_STARTER_PACKAGE_PUBLIC_KEYS
#endif
#ifdef QV_STARTER_ACCOUNT_SERVERS
#undef QV_ACCOUNT_SERVERS
#define QV_ACCOUNT_SERVERS QV_STARTER_ACCOUNT_SERVERS
#endif

namespace BuildSettings {

const char* PackagePublicKeys() { return QV_PACKAGE_PUBLIC_KEYS; }
const char* AccountServers() { return QV_ACCOUNT_SERVERS; }

}  // namespace BuildSettings
