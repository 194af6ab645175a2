#pragma once
#include <cstdint>

// The most bytes one package may inflate to in this starter build. Only
// bootkin/flavor/unpackflavor.cpp defines it; it is compiled into each
// starter executable with or without QV_TEST_BUILD.
std::uint64_t GetUnpackByteCap();
