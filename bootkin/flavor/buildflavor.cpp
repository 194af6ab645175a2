#include "bootkin/buildflavor.h"

const BuildFlavor& GetBuildFlavor() {
#ifdef QV_TEST_BUILD
  static const BuildFlavor kFlavor = {true};
#else
  static const BuildFlavor kFlavor = {false};
#endif
  return kFlavor;
}
