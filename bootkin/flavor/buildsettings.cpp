#include "code/utility/protect/buildsettings.h"

#ifndef QV_PACKAGE_PUBLIC_KEYS
#define QV_PACKAGE_PUBLIC_KEYS ""
#endif
#ifndef QV_ACCOUNT_SERVERS
#define QV_ACCOUNT_SERVERS ""
#endif

namespace BuildSettings {

const char* PackagePublicKeys() { return QV_PACKAGE_PUBLIC_KEYS; }
const char* AccountServers() { return QV_ACCOUNT_SERVERS; }

}  // namespace BuildSettings
