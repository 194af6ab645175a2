#include "code/utility/system/registryhandler_win.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kSource = "code/utility/registryhandler";

bool Fits(const char* sFunction, const char* sWhat, const char* sText) {
  const std::size_t iLength = std::strlen(sText);
  if (iLength < RegistryHandler::kRegistryText) return true;
  QV_LOG(sFunction, 3, kSource, "%s is %u bytes, longer than %u: %s", sWhat, static_cast<unsigned>(iLength),
         static_cast<unsigned>(RegistryHandler::kRegistryText - 1), sText);
  return false;
}
}  // namespace

bool RegistryHandler::AddRegistryKey(HKEY hRoot, const char* sKey) {
  const char* const kFunction = "RegistryHandler::AddRegistryKey()";
  if (sKey == nullptr || !Fits(kFunction, "sKey", sKey)) return false;
  const std::wstring wsKey = TextConv::Utf8ToWide(sKey);
  HKEY hKey = nullptr;
  const LONG iResult = RegCreateKeyExW(hRoot, wsKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                       nullptr, &hKey, nullptr);
  ScopedRegKey oKey(hKey);
  if (iResult != ERROR_SUCCESS) {
    // The registry calls return their error instead of setting the thread's.
    const int iErrorCode = static_cast<int>(iResult);
    QV_LOG(kFunction, 0, kSource, "RegCreateKeyEx() failed. iErrorCode = %d, Error = %s, sKey = %s", iErrorCode,
           GetSocketErrorText(iErrorCode), sKey);
    return false;
  }
  return true;
}

bool RegistryHandler::AddRegistryValue(HKEY hRoot, const char* sKey, const char* sName, const char* sValue,
                                       DWORD iType) {
  const char* const kFunction = "RegistryHandler::AddRegistryValue()";
  if (sKey == nullptr || sName == nullptr || sValue == nullptr) return false;
  if (!Fits(kFunction, "sKey", sKey) || !Fits(kFunction, "sName", sName) || !Fits(kFunction, "sValue", sValue)) {
    return false;
  }
  if (iType != REG_DWORD && iType != REG_SZ && iType != REG_EXPAND_SZ) {
    QV_LOG(kFunction, 3, kSource, "unsupported value type %lu, sKey = %s, sName = %s", static_cast<unsigned long>(iType),
           sKey, sName);
    return false;
  }
  const std::wstring wsKey = TextConv::Utf8ToWide(sKey);
  const std::wstring wsName = TextConv::Utf8ToWide(sName);
  HKEY hKey = nullptr;
  LONG iResult = RegOpenKeyExW(hRoot, wsKey.c_str(), 0, KEY_SET_VALUE, &hKey);
  ScopedRegKey oKey(hKey);
  if (iResult != ERROR_SUCCESS) {
    const int iErrorCode = static_cast<int>(iResult);
    QV_LOG(kFunction, 0, kSource, "RegOpenKeyEx() failed. iErrorCode = %d, Error = %s, sKey = %s, sName = %s, sValue = %s",
           iErrorCode, GetSocketErrorText(iErrorCode), sKey, sName, sValue);
    return false;
  }
  const wchar_t* wsValueName = wsName.empty() ? nullptr : wsName.c_str();
  if (iType == REG_DWORD) {
    const DWORD iNumber = static_cast<DWORD>(std::strtol(sValue, nullptr, 10));
    iResult = RegSetValueExW(oKey.Get(), wsValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&iNumber),
                             sizeof(iNumber));
  } else {
    const std::wstring wsValue = TextConv::Utf8ToWide(sValue);
    iResult = RegSetValueExW(oKey.Get(), wsValueName, 0, iType, reinterpret_cast<const BYTE*>(wsValue.c_str()),
                             static_cast<DWORD>((wsValue.size() + 1) * sizeof(wchar_t)));
  }
  if (iResult != ERROR_SUCCESS) {
    const int iErrorCode = static_cast<int>(iResult);
    QV_LOG(kFunction, 0, kSource, "RegSetValueEx() failed. iErrorCode = %d, Error = %s, sKey = %s, sName = %s, sValue = %s",
           iErrorCode, GetSocketErrorText(iErrorCode), sKey, sName, sValue);
    return false;
  }
  return true;
}
