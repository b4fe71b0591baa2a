// The download's target file and the SHA-256 of what is written into it. The blocks are gathered
// into chunks of 64 KB; each chunk is written out and then hashed on a thread of its own, so the
// hash no longer adds to the time between two reads of the body (under a 32-bit emulator it was a
// tenth of it). A chunk is hashed from the very memory that was handed to the file system, and
// only once that is done is it filled again: the digest is of exactly the bytes written, and no
// more than four chunks are held.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "framework/file.h"
#include "framework/handle.h"
#include "util/sha256.h"

class HashingWriter {
public:
  HashingWriter();
  ~HashingWriter();
  HashingWriter(const HashingWriter&) = delete;
  HashingWriter& operator=(const HashingWriter&) = delete;

  // Creates `path` new (CreateNewFile): 0, or the system's error code.
  DWORD Create(const std::string& path);
  bool IsOpen() const { return file_.IsOpen(); }
  // Takes all `count` bytes, writing out a chunk when it is full. On failure returns false with the
  // system's error code, or -1 when the file took fewer bytes than given.
  bool Write(const void* data, DWORD count, long& error);
  // Writes out what is gathered; the same failures as Write.
  bool Flush(long& error);
  // Empties the file and the hash: the next byte written is byte 0 again. On failure returns false
  // with the system's error code.
  bool Truncate(long& error);
  // Closes the file; bytes not written out are dropped, and not hashed.
  void Close();
  // The digest of every byte written out since the file was created or emptied. Call once, after
  // Close: the hash is spent afterwards.
  Sha256Digest Finish();

private:
  static constexpr size_t kChunkSize = 65536;
  static constexpr LONG kChunks = 4;
  struct Chunk {
    unsigned char bytes[kChunkSize];
    DWORD size;
  };

  static DWORD WINAPI HashThread(LPVOID self);
  void HashChunks();
  // Writes the chunk being filled and passes it to the hash; the next one is free to fill.
  bool WriteOutChunk(long& error);
  // Returns once every chunk passed on is hashed.
  void WaitUntilHashed();

  CFile file_;
  Sha256 hash_;  // the hash thread's while chunks are queued; everybody's after WaitUntilHashed
  std::unique_ptr<Chunk[]> chunks_;
  LONG filling_ = 0;  // the chunk being filled, owned by the writer
  LONG hashing_ = 0;  // the next chunk the hash thread takes
  bool stopping_ = false;
  UniqueHandle queued_;  // counts chunks passed on and not yet taken by the hash thread
  UniqueHandle free_;    // counts chunks the hash thread is done with, beside the one being filled
  UniqueHandle thread_;  // invalid when it could not be started: the writer then hashes itself
};
