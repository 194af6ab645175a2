#include "code/setuphandler/embeddedsettings.h"

#include <cstring>

#include "code/utility/text/encoding.h"

namespace EmbeddedSettings {
const char kMarker[] = "V&&VI***DDDD111111###!!!!#####$$$%%@@@UUUU";

Outcome Find(const char* pData, std::size_t iSize, char* sSetting, std::size_t iCapacity) {
  if (sSetting != nullptr && iCapacity > 0) sSetting[0] = '\0';
  if (pData == nullptr || sSetting == nullptr || iCapacity == 0) return Outcome::NoMarker;
  const long long iAt = Utility::FindLast(kMarker, kMarkerLength, pData, iSize);
  if (iAt < 0) return Outcome::NoMarker;
  const char* pBlock = pData + iAt + kMarkerLength;
  const std::size_t iRest = iSize - static_cast<std::size_t>(iAt) - kMarkerLength;
  const void* pZero = std::memchr(pBlock, '\0', iRest);
  const std::size_t iBlock = pZero ? static_cast<std::size_t>(static_cast<const char*>(pZero) - pBlock) : iRest;
  std::size_t iCount = 0;
  const std::size_t iRoom = iCapacity - 1 < kMaxSettingLength ? iCapacity - 1 : kMaxSettingLength;
  if (!Utility::Base64Decode(pBlock, iBlock, reinterpret_cast<unsigned char*>(sSetting), iRoom, iCount)) {
    sSetting[0] = '\0';
    return Outcome::TooLong;
  }
  sSetting[iCount] = '\0';
  return Outcome::Decoded;
}

std::string MakeBlock(const std::string& sSetting) {
  std::string sBase64;
  Utility::Base64Encode(reinterpret_cast<const unsigned char*>(sSetting.data()), sSetting.size(), sBase64, true);
  std::string sBlock(kMarker, kMarkerLength);
  sBlock += sBase64;
  sBlock.push_back('\0');
  return sBlock;
}
}  // namespace EmbeddedSettings
