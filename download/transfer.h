// One download's state across its attempts: the internet handles, the target file held for
// writing, how much of it is written and the SHA-256 of those bytes, what a further attempt needs
// to resume (the first answer's validator and length), and the credentials the user gave.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "framework/file.h"
#include "framework/handle.h"
#include "util/sha256.h"

class Transfer {
public:
  // Opened by the worker; closed by it only when superseded, the rest by the dialog once the worker
  // ended (closing reports to the dialog through the status callback).
  UniqueInternetHandle m_hSession;
  UniqueInternetHandle m_hConnection;
  UniqueInternetHandle m_hRequest;
  // Created new by the dialog; the same file, never reopened, for every attempt.
  CFile m_fileTarget;

  uint32_t Position() const { return position_; }
  // Writes a block at the end of what is written and hashes it. On failure returns false with the
  // system's error code, or -1 when the file took fewer bytes than given.
  bool Write(const void* block, DWORD count, long& error);
  // Empties the file and the hash: the next byte written is byte 0 again. On failure returns false
  // with the system's error code.
  bool Restart(long& error);
  // The hash of everything written. Call once, at the end.
  Sha256Digest Finish() { return written_.Finish(); }

  // Takes the validator ("" for none) and length of an answer with the whole body (200), for
  // resuming later.
  void RememberWholeAnswer(const std::string& validator, bool lengthKnown, uint32_t length);
  // Drops them: the next attempt starts again at byte 0.
  void Forget() { validator_.clear(); }
  // The Range/If-Range headers for the next request; "" when it is to start at byte 0.
  std::string NextRequestHeaders() const;
  // The complete length the first whole answer announced (lengthKnown false when none).
  bool LengthKnown() const { return lengthKnown_; }
  uint32_t Length() const { return length_; }

  // The credentials the user gave for a 401 (server) or 407 (proxy) answer on `request`, kept for
  // further requests to the same address.
  void KeepCredentials(HINTERNET request, bool proxy);
  // Puts the kept credentials for that kind of answer on `request`; false when none are kept.
  bool ApplyCredentials(HINTERNET request, bool proxy) const;
  // Forgets the server's credentials: they belong to the address left behind.
  void ForgetServerCredentials();

private:
  // A user name and password as WinINet gives and takes them; an empty name when none is kept.
  struct Credentials {
    char user[256];
    char password[256];
  };

  uint32_t position_ = 0;
  Sha256 written_;
  std::string validator_;
  bool lengthKnown_ = false;
  uint32_t length_ = 0;
  Credentials server_ = {};
  Credentials proxy_ = {};
};
