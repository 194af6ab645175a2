#pragma once

// Settings fixed when the starter is built (CMake cache variables, checked
// at configure time by cmake/buildsettings.cmake). Only
// bootkin/flavor/buildsettings.cpp defines these, compiled into each starter
// executable.
namespace BuildSettings {

// QV_PACKAGE_PUBLIC_KEYS: one or two public keys in hex, comma separated;
// empty for a build that installs packages unchecked.
const char* PackagePublicKeys();

// QV_ACCOUNT_SERVERS: the account servers a link may name, comma separated;
// empty when every server is allowed.
const char* AccountServers();

}  // namespace BuildSettings
