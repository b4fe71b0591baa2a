// SHA-256 computed by the installer itself, so that every system it starts on can hash a package,
// whether or not the platform offers a SHA-256 provider.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using Sha256Digest = std::array<unsigned char, 32>;

// Hashes a byte stream fed in pieces of any size (empty ones included). Every downloaded byte goes
// through it, so whole blocks are hashed where they lie, with the processor's SHA instructions
// when it has them and the system saves their registers.
class Sha256 {
public:
  Sha256();
  void Update(const void* data, size_t size);
  // The digest of everything fed so far. Call once: the object is spent afterwards.
  Sha256Digest Finish();

private:
  void Compress(const unsigned char* blocks, size_t count);

  uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  unsigned char block_[64] = {};
  size_t filled_ = 0;  // bytes waiting in block_
  uint64_t totalBytes_ = 0;
  bool useShaInstructions_ = false;
};

// The two ways of compressing `count` 64-byte blocks into a state, for the tests that compare them.
void Sha256CompressPortable(uint32_t state[8], const unsigned char* blocks, size_t count);
// True when Sha256CompressWithShaInstructions may be called: the processor has the SHA, SSSE3 and
// SSE4.1 instructions, and the system saves the XMM registers (it enabled them for XSAVE).
bool Sha256ShaInstructionsUsable();
void Sha256CompressWithShaInstructions(uint32_t state[8], const unsigned char* blocks, size_t count);
