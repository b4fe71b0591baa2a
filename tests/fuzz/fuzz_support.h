// What every fuzz target shares: a check that stops the run with the failed condition, and the
// splitting of an input into texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Unlike assert, stays on in release builds; libFuzzer saves the input that reached abort().
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : FuzzCheckFailed(#condition, __FILE__, __LINE__))

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, condition);
  std::abort();
}

// The input cut at every NUL byte: k NULs give k + 1 texts, and none of them holds a NUL, so each
// one passes whole through a C string parameter.
inline std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size) {
  std::vector<std::string> texts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      texts.emplace_back();
    } else {
      texts.back() += static_cast<char>(data[i]);
    }
  }
  return texts;
}

// Reads fixed-size little-endian fields from the front of an input; past its end every field is 0.
class InputReader {
public:
  InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  uint32_t U32() { return static_cast<uint32_t>(Bytes(4)); }
  uint16_t U16() { return static_cast<uint16_t>(Bytes(2)); }
  uint8_t U8() { return static_cast<uint8_t>(Bytes(1)); }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  double F64() {
    const uint64_t bits = Bytes(8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  bool AtEnd() const { return m_pos >= m_size; }
  std::string Rest() {
    std::string rest = m_pos < m_size ? std::string(reinterpret_cast<const char*>(m_data) + m_pos, m_size - m_pos) : "";
    m_pos = m_size;
    return rest;
  }

private:
  uint64_t Bytes(int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i, ++m_pos) {
      if (m_pos < m_size) value |= static_cast<uint64_t>(m_data[m_pos]) << (8 * i);
    }
    return value;
  }

  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};
