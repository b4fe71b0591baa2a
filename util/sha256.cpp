#include "util/sha256.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {
constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t RotateRight(uint32_t value, int bits) { return (value >> bits) | (value << (32 - bits)); }

// The sums of three rotations, each folded into one value rotated twice more: one register less,
// which 32-bit x86 with its seven free registers would otherwise take from the stack.
inline uint32_t BigSigma0(uint32_t a) { return RotateRight(a ^ RotateRight(a ^ RotateRight(a, 9), 11), 2); }
inline uint32_t BigSigma1(uint32_t e) { return RotateRight(e ^ RotateRight(e ^ RotateRight(e, 14), 5), 6); }
inline uint32_t SmallSigma0(uint32_t w) { return RotateRight(w, 7) ^ RotateRight(w, 18) ^ (w >> 3); }
inline uint32_t SmallSigma1(uint32_t w) { return RotateRight(w, 17) ^ RotateRight(w, 19) ^ (w >> 10); }

uint32_t LoadBigEndian(const unsigned char* bytes) {
  uint32_t word;
  memcpy(&word, bytes, sizeof word);
  return __builtin_bswap32(word);
}

// One round. The working variables are not shifted along: the next round names them one place
// further on, so only the two that change are written.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f, uint32_t g, uint32_t& h,
                  uint32_t constantAndWord) {
  h += BigSigma1(e) + (g ^ (e & (f ^ g))) + constantAndWord;
  d += h;
  h += BigSigma0(a) + ((a & b) | (c & (a | b)));
}

void CompressOne(uint32_t* state, const unsigned char* block) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
  for (int i = 16; i < 64; ++i) w[i] = w[i - 16] + SmallSigma0(w[i - 15]) + w[i - 7] + SmallSigma1(w[i - 2]);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; i += 8) {
    const uint32_t* k = kRoundConstants + i;
    const uint32_t* now = w + i;
    Round(a, b, c, d, e, f, g, h, k[0] + now[0]);
    Round(h, a, b, c, d, e, f, g, k[1] + now[1]);
    Round(g, h, a, b, c, d, e, f, k[2] + now[2]);
    Round(f, g, h, a, b, c, d, e, k[3] + now[3]);
    Round(e, f, g, h, a, b, c, d, k[4] + now[4]);
    Round(d, e, f, g, h, a, b, c, k[5] + now[5]);
    Round(c, d, e, f, g, h, a, b, k[6] + now[6]);
    Round(b, c, d, e, f, g, h, a, k[7] + now[7]);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}
}  // namespace

void Sha256CompressPortable(uint32_t state[8], const unsigned char* blocks, size_t count) {
  for (; count > 0; --count, blocks += 64) CompressOne(state, blocks);
}

#if defined(__i386__) || defined(__x86_64__)
bool Sha256ShaInstructionsUsable() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const unsigned ssse3 = 1u << 9, sse41 = 1u << 19, osxsave = 1u << 27;
  if ((c & (ssse3 | sse41 | osxsave)) != (ssse3 | sse41 | osxsave)) return false;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & (1u << 29))) return false;
  // XCR0 bit 1: the system saves and restores the XMM registers on a thread switch.
  unsigned low = 0;
  __asm__ volatile("xgetbv" : "=a"(low) : "c"(0) : "edx");
  return (low & 2u) != 0;
}

// Four rounds per step, as the instructions are made for: the state is kept as (A,B,E,F) and
// (C,D,G,H), each with its lanes in reverse, and the message schedule as four vectors of four words;
// two rounds give the next (A,B,E,F), and the (A,B,E,F) before them is the next (C,D,G,H).
// force_align_arg_pointer: a 32-bit Windows thread may enter with its stack aligned to 4 bytes only.
__attribute__((target("sha,sse4.1"), force_align_arg_pointer)) void Sha256CompressWithShaInstructions(
    uint32_t state[8], const unsigned char* blocks, size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  hgfe = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, hgfe, 8);
  __m128i cdgh = _mm_blend_epi16(hgfe, cdab, 0xF0);
  for (; count > 0; --count, blocks += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i words[4];
    // Unrolled, the four words stay in registers and the steps need no index arithmetic.
#pragma GCC unroll 16
    for (int step = 0; step < 16; ++step) {
      __m128i& current = words[step % 4];
      if (step < 4) {
        current = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * step)), byteSwap);
      } else {
        const __m128i& last = words[(step + 3) % 4];
        const __m128i& beforeLast = words[(step + 2) % 4];
        current = _mm_sha256msg1_epu32(current, words[(step + 1) % 4]);
        current = _mm_add_epi32(current, _mm_alignr_epi8(last, beforeLast, 4));
        current = _mm_sha256msg2_epu32(current, last);
      }
      const __m128i constants = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * step));
      __m128i sum = _mm_add_epi32(current, constants);
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sum);
      sum = _mm_shuffle_epi32(sum, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, sum);
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#else
bool Sha256ShaInstructionsUsable() { return false; }

void Sha256CompressWithShaInstructions(uint32_t state[8], const unsigned char* blocks, size_t count) {
  Sha256CompressPortable(state, blocks, count);
}
#endif

Sha256::Sha256() : useShaInstructions_(Sha256ShaInstructionsUsable()) {}

void Sha256::Compress(const unsigned char* blocks, size_t count) {
  if (useShaInstructions_) {
    Sha256CompressWithShaInstructions(state_, blocks, count);
  } else {
    Sha256CompressPortable(state_, blocks, count);
  }
}

void Sha256::Update(const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  totalBytes_ += size;
  if (filled_ > 0) {
    const size_t taken = size < sizeof block_ - filled_ ? size : sizeof block_ - filled_;
    memcpy(block_ + filled_, bytes, taken);
    filled_ += taken;
    bytes += taken;
    size -= taken;
    if (filled_ < sizeof block_) return;
    Compress(block_, 1);
    filled_ = 0;
  }
  const size_t whole = size / sizeof block_;
  if (whole > 0) Compress(bytes, whole);
  bytes += whole * sizeof block_;
  size -= whole * sizeof block_;
  if (size > 0) memcpy(block_, bytes, size);
  filled_ = size;
}

Sha256Digest Sha256::Finish() {
  const uint64_t totalBits = totalBytes_ * 8;
  // The padding: 0x80, zeros up to 56 bytes into a block, then the length in bits, big-endian.
  const unsigned char marker = 0x80;
  Update(&marker, 1);
  const unsigned char zero = 0;
  while (filled_ != 56) Update(&zero, 1);
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(totalBits >> (56 - 8 * i));
  Update(length, sizeof length);
  Sha256Digest digest;
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<unsigned char>(state_[i] >> (24 - 8 * j));
  }
  return digest;
}
