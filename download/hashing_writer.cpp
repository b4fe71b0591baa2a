#include "download/hashing_writer.h"

#include <cstring>

HashingWriter::HashingWriter() : chunks_(new Chunk[kChunks]) {
  chunks_[0].size = 0;
  // The writer owns one chunk; the others start free. A chunk passed on may be hashed before the
  // writer takes the next one, so for a moment all of them count as free.
  queued_.reset(CreateSemaphoreA(nullptr, 0, kChunks, nullptr));
  free_.reset(CreateSemaphoreA(nullptr, kChunks - 1, kChunks, nullptr));
  if (queued_ && free_) thread_.reset(CreateThread(nullptr, 0, HashThread, this, 0, nullptr));
}

HashingWriter::~HashingWriter() {
  if (!thread_) return;
  WaitUntilHashed();
  stopping_ = true;
  ReleaseSemaphore(queued_.get(), 1, nullptr);
  WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD HashingWriter::Create(const std::string& path) {
  DWORD error = 0;
  return file_.OpenForWriting(path.c_str(), error) ? 0 : error;
}

bool HashingWriter::Write(const void* data, DWORD count, long& error) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (count != 0) {
    Chunk& chunk = chunks_[filling_];
    const DWORD taken = count < kChunkSize - chunk.size ? count : static_cast<DWORD>(kChunkSize - chunk.size);
    std::memcpy(chunk.bytes + chunk.size, bytes, taken);
    chunk.size += taken;
    bytes += taken;
    count -= taken;
    if (chunk.size == kChunkSize && !WriteOutChunk(error)) return false;
  }
  return true;
}

bool HashingWriter::Flush(long& error) { return chunks_[filling_].size == 0 || WriteOutChunk(error); }

bool HashingWriter::WriteOutChunk(long& error) {
  Chunk& chunk = chunks_[filling_];
  // Written before it is hashed: a chunk the file did not take whole fails the download, and its
  // bytes are hashed as given all the same, which no digest then is compared with.
  const bool written = file_.Write(chunk.bytes, chunk.size, error) && file_.Flush(error);
  if (thread_) {
    ReleaseSemaphore(queued_.get(), 1, nullptr);
    filling_ = (filling_ + 1) % kChunks;
    WaitForSingleObject(free_.get(), INFINITE);
  } else {
    hash_.Update(chunk.bytes, chunk.size);
  }
  chunks_[filling_].size = 0;
  return written;
}

bool HashingWriter::Truncate(long& error) {
  WaitUntilHashed();
  hash_ = Sha256();
  chunks_[filling_].size = 0;
  return file_.Truncate(error) != FALSE;
}

void HashingWriter::Close() {
  file_.Close();
  chunks_[filling_].size = 0;
}

Sha256Digest HashingWriter::Finish() {
  WaitUntilHashed();
  return hash_.Finish();
}

void HashingWriter::WaitUntilHashed() {
  if (!thread_) return;
  // Every free count taken, the hash thread has given back all it was passed.
  for (LONG taken = 0; taken < kChunks - 1; ++taken) WaitForSingleObject(free_.get(), INFINITE);
  ReleaseSemaphore(free_.get(), kChunks - 1, nullptr);
}

DWORD WINAPI HashingWriter::HashThread(LPVOID self) {
  static_cast<HashingWriter*>(self)->HashChunks();
  return 0;
}

void HashingWriter::HashChunks() {
  for (;;) {
    WaitForSingleObject(queued_.get(), INFINITE);
    if (stopping_) return;
    const Chunk& chunk = chunks_[hashing_];
    hash_.Update(chunk.bytes, chunk.size);
    hashing_ = (hashing_ + 1) % kChunks;
    ReleaseSemaphore(free_.get(), 1, nullptr);
  }
}
