#pragma once
// Cuts one fuzzer input into text fields at 0x01 bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> FuzzFields(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x01 && fields.size() < count)
      fields.emplace_back();
    else
      fields.back() += static_cast<char>(data[i]);
  }
  fields.resize(count);
  return fields;
}

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) __builtin_trap(); \
  } while (0)
