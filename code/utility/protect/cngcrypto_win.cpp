#include "code/utility/protect/cngcrypto_win.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

namespace CngCrypto {
namespace {

constexpr NTSTATUS kNoLibrary = -1;
constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000);  // STATUS_INVALID_SIGNATURE
constexpr ULONG kMaxUpdate = 1UL << 30;  // BCryptHashData takes a ULONG length

struct BcryptApi {
  decltype(&BCryptOpenAlgorithmProvider) pOpenAlgorithmProvider = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) pCloseAlgorithmProvider = nullptr;
  decltype(&BCryptGetProperty) pGetProperty = nullptr;
  decltype(&BCryptCreateHash) pCreateHash = nullptr;
  decltype(&BCryptHashData) pHashData = nullptr;
  decltype(&BCryptFinishHash) pFinishHash = nullptr;
  decltype(&BCryptDestroyHash) pDestroyHash = nullptr;
  decltype(&BCryptImportKeyPair) pImportKeyPair = nullptr;
  decltype(&BCryptDestroyKey) pDestroyKey = nullptr;
  decltype(&BCryptVerifySignature) pVerifySignature = nullptr;
  bool bLoaded = false;
};

template <typename T>
bool Resolve(HMODULE hModule, const char* sName, T* pOut) {
  *pOut = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, sName)));
  return *pOut != nullptr;
}

BcryptApi Load() {
  BcryptApi api;
  static const wchar_t kFile[] = L"\\bcrypt.dll";
  wchar_t sPath[MAX_PATH + sizeof(kFile) / sizeof(kFile[0])];
  const UINT n = GetSystemDirectoryW(sPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return api;
  std::memcpy(sPath + n, kFile, sizeof(kFile));
  // Never freed: worker threads may still hash while the process ends.
  const HMODULE hModule = LoadLibraryW(sPath);
  if (!hModule) return api;
  api.bLoaded = Resolve(hModule, "BCryptOpenAlgorithmProvider", &api.pOpenAlgorithmProvider) &&
                Resolve(hModule, "BCryptCloseAlgorithmProvider", &api.pCloseAlgorithmProvider) &&
                Resolve(hModule, "BCryptGetProperty", &api.pGetProperty) &&
                Resolve(hModule, "BCryptCreateHash", &api.pCreateHash) &&
                Resolve(hModule, "BCryptHashData", &api.pHashData) &&
                Resolve(hModule, "BCryptFinishHash", &api.pFinishHash) &&
                Resolve(hModule, "BCryptDestroyHash", &api.pDestroyHash) &&
                Resolve(hModule, "BCryptImportKeyPair", &api.pImportKeyPair) &&
                Resolve(hModule, "BCryptDestroyKey", &api.pDestroyKey) &&
                Resolve(hModule, "BCryptVerifySignature", &api.pVerifySignature);
  return api;
}

const BcryptApi& Api() {
  static const BcryptApi api = Load();  // once, also when threads race here
  return api;
}

}  // namespace

bool Available() { return Api().bLoaded; }

Sha256::Sha256() {
  const BcryptApi& api = Api();
  if (!api.bLoaded) {
    m_iStatus = kNoLibrary;
    return;
  }
  BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
  NTSTATUS st = api.pOpenAlgorithmProvider(&hAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(st)) {
    m_iStatus = st;
    return;
  }
  m_hAlgorithm = hAlgorithm;
  // Vista wants the caller to provide the hash object's memory.
  DWORD iObjectLength = 0;
  ULONG iResult = 0;
  st = api.pGetProperty(hAlgorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&iObjectLength),
                        sizeof(iObjectLength), &iResult, 0);
  if (!BCRYPT_SUCCESS(st) || iObjectLength == 0 || iObjectLength > (1u << 20)) {
    m_iStatus = BCRYPT_SUCCESS(st) ? kNoLibrary : st;
    return;
  }
  m_aObject.resize(iObjectLength);
  BCRYPT_HASH_HANDLE hHash = nullptr;
  st = api.pCreateHash(hAlgorithm, &hHash, m_aObject.data(), iObjectLength, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(st)) {
    m_iStatus = st;
    return;
  }
  m_hHash = hHash;
}

Sha256::~Sha256() {
  const BcryptApi& api = Api();
  if (m_hHash) api.pDestroyHash(m_hHash);
  if (m_hAlgorithm) api.pCloseAlgorithmProvider(m_hAlgorithm, 0);
}

bool Sha256::Update(const void* pData, std::size_t n) {
  if (!m_hHash || m_bFinished || m_iStatus != 0) return false;
  const unsigned char* p = static_cast<const unsigned char*>(pData);
  while (n > 0) {
    const ULONG iPart = n > kMaxUpdate ? kMaxUpdate : static_cast<ULONG>(n);
    const NTSTATUS st = Api().pHashData(m_hHash, const_cast<PUCHAR>(p), iPart, 0);
    if (!BCRYPT_SUCCESS(st)) {
      m_iStatus = st;
      return false;
    }
    p += iPart;
    n -= iPart;
  }
  return true;
}

bool Sha256::Finish(std::uint8_t aDigest[PackageSignature::kSha256Size]) {
  if (!m_hHash || m_bFinished || m_iStatus != 0) return false;
  m_bFinished = true;
  const NTSTATUS st = Api().pFinishHash(m_hHash, aDigest, PackageSignature::kSha256Size, 0);
  if (!BCRYPT_SUCCESS(st)) {
    m_iStatus = st;
    return false;
  }
  return true;
}

PackageSignature::SignatureResult Verifier::Verify(const PackageSignature::PublicKey& key, const void* pMessage,
                                                   std::size_t n,
                                                   const std::uint8_t aSignature[PackageSignature::kSignatureSize]) {
  using PackageSignature::SignatureResult;
  const BcryptApi& api = Api();
  if (!api.bLoaded) {
    m_iStatus = kNoLibrary;
    return SignatureResult::kUnavailable;
  }
  std::uint8_t aDigest[PackageSignature::kSha256Size];
  {
    Sha256 hash;
    if (!hash.Update(pMessage, n) || !hash.Finish(aDigest)) {
      m_iStatus = hash.Status();
      return SignatureResult::kUnavailable;
    }
  }

  BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
  NTSTATUS st = api.pOpenAlgorithmProvider(&hAlgorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(st)) {
    m_iStatus = st;
    return SignatureResult::kUnavailable;
  }
  // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y, 32 bytes each, big-endian.
  unsigned char aBlob[sizeof(BCRYPT_ECCKEY_BLOB) + PackageSignature::kPublicKeySize];
  BCRYPT_ECCKEY_BLOB header;
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = PackageSignature::kPublicKeySize / 2;
  std::memcpy(aBlob, &header, sizeof(header));
  std::memcpy(aBlob + sizeof(header), key.a, PackageSignature::kPublicKeySize);
  BCRYPT_KEY_HANDLE hKey = nullptr;
  st = api.pImportKeyPair(hAlgorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &hKey, aBlob, sizeof(aBlob), 0);
  SignatureResult result = SignatureResult::kKeyRejected;
  if (BCRYPT_SUCCESS(st)) {
    std::uint8_t aSignatureCopy[PackageSignature::kSignatureSize];  // the call takes non-const buffers
    std::memcpy(aSignatureCopy, aSignature, sizeof(aSignatureCopy));
    st = api.pVerifySignature(hKey, nullptr, aDigest, sizeof(aDigest), aSignatureCopy, sizeof(aSignatureCopy), 0);
    result = BCRYPT_SUCCESS(st)            ? SignatureResult::kValid
             : st == kInvalidSignature ? SignatureResult::kInvalid
                                           : SignatureResult::kUnavailable;
    api.pDestroyKey(hKey);
  }
  m_iStatus = BCRYPT_SUCCESS(st) ? 0 : st;
  api.pCloseAlgorithmProvider(hAlgorithm, 0);
  return result;
}

}  // namespace CngCrypto
