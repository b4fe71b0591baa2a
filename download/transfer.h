// One download's state across its attempts: the internet handles, the target file held for
// writing, how much of it is written and the SHA-256 of those bytes, what a further attempt needs
// to resume (the first answer's validator and length), and the credentials the user gave. It owns
// all of them: whatever it holds is released when it goes.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "download/downloaded_package.h"
#include "framework/file.h"
#include "framework/handle.h"
#include "framework/url.h"
#include "util/sha256.h"

// Where the next request starts: at byte 0, or resuming where the file stands.
struct RequestStart {
  uint32_t from = 0;
  std::string headers;  // Range and If-Range; "" for a request from byte 0
  bool Resumes() const { return from != 0; }
};

class Transfer {
public:
  // Closes the request, the connection, then the session: closing reports through the status
  // callback, so the screen it reports to must still be there.
  ~Transfer() = default;

  // Each answers whether the handle was opened; on failure the thread's last error says why.
  bool OpenSession(const char* agent);
  bool SetStatusCallback(INTERNET_STATUS_CALLBACK callback);
  // To the server of `url`, with `user` and `password` when `user` is not empty.
  bool Connect(const UrlParts& url, const std::string& user, const std::string& password, DWORD_PTR context);
  // A request for the object of `url` on the connection. The request it replaces is closed once
  // the new one is open.
  bool OpenRequest(const UrlParts& url, DWORD_PTR context);
  // Closes the request and the connection: the next request goes to another server.
  void Disconnect();
  HINTERNET Request() const { return request_.get(); }

  // Creates the target file new at `path`: 0, or the system's error code.
  DWORD CreateTarget(const std::string& path);
  bool TargetOpen() const { return file_.IsOpen(); }
  uint32_t Position() const { return position_; }
  // Writes a block at the end of what is written and hashes it. On failure returns false with the
  // system's error code, or -1 when the file took fewer bytes than given.
  bool Write(const void* block, DWORD count, long& error);
  // Writes out what the file object still holds; the same failures as Write.
  bool Flush(long& error) { return file_.Flush(error) != FALSE; }
  // Empties the file and the hash: the next byte written is byte 0 again. On failure returns false
  // with the system's error code.
  bool Restart(long& error);
  // Closes the file and deletes it.
  void DiscardTarget();
  // Closes the file, holds it for reading and gives it with the hash of what was written. Call
  // once, at the end.
  DownloadedPackage HandOverTarget();

  // Takes the validator ("" for none) and length of an answer with the whole body (200), for
  // resuming later.
  void RememberWholeAnswer(const std::string& validator, bool lengthKnown, uint32_t length);
  // Drops them: the next attempt starts again at byte 0.
  void Forget() { validator_.clear(); }
  // The one decision whether the next request resumes, and with which headers.
  RequestStart NextRequest() const;
  const std::string& Validator() const { return validator_; }
  uint32_t Length() const { return length_; }

  // The credentials the user gave for a 401 (server) or 407 (proxy) answer on the request, kept
  // for further requests to the same address.
  void KeepCredentials(bool proxy);
  // Puts the kept credentials for that kind of answer on the request; false when none are kept.
  bool ApplyCredentials(bool proxy) const;
  // Forgets the server's credentials: they belong to the address left behind.
  void ForgetServerCredentials();

private:
  // A user name and password as WinINet gives and takes them; an empty name when none is kept.
  struct Credentials {
    char user[256];
    char password[256];
  };

  std::string path_;
  CFile file_;
  uint32_t position_ = 0;
  Sha256 written_;
  std::string validator_;
  bool lengthKnown_ = false;
  uint32_t length_ = 0;
  Credentials server_ = {};
  Credentials proxy_ = {};
  // Declared last: released first, the request before its connection before the session.
  UniqueInternetHandle session_;
  UniqueInternetHandle connection_;
  UniqueInternetHandle request_;
};
