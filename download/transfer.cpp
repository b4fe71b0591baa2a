#include "download/transfer.h"

#include "download/retry_rules.h"

bool Transfer::Write(const void* block, DWORD count, long& error) {
  if (!m_fileTarget.Write(block, count, error)) return false;
  written_.Update(block, count);
  position_ += count;
  return true;
}

bool Transfer::Restart(long& error) {
  if (!m_fileTarget.Truncate(error)) return false;
  written_ = Sha256();
  position_ = 0;
  return true;
}

void Transfer::RememberWholeAnswer(const std::string& validator, bool lengthKnown, uint32_t length) {
  validator_ = validator;
  lengthKnown_ = lengthKnown;
  length_ = length;
}

std::string Transfer::NextRequestHeaders() const {
  // Without the length a cut could not be told from the end, and a resumed answer not checked.
  if (validator_.empty() || !lengthKnown_ || position_ == 0) return std::string();
  return ResumeHeaders(position_, validator_);
}

void Transfer::KeepCredentials(HINTERNET request, bool proxy) {
  Credentials given = {};
  DWORD userLength = sizeof given.user - 1;
  DWORD passwordLength = sizeof given.password - 1;
  // What does not fit whole is not kept: the user would be asked again.
  if (InternetQueryOptionA(request, proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME, given.user,
                           &userLength) &&
      InternetQueryOptionA(request, proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD, given.password,
                           &passwordLength)) {
    (proxy ? proxy_ : server_) = given;
  }
  SecureZeroMemory(&given, sizeof given);
}

bool Transfer::ApplyCredentials(HINTERNET request, bool proxy) const {
  const Credentials& kept = proxy ? proxy_ : server_;
  if (kept.user[0] == '\0') return false;
  return InternetSetOptionA(request, proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME,
                            const_cast<char*>(kept.user), lstrlenA(kept.user)) &&
         InternetSetOptionA(request, proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD,
                            const_cast<char*>(kept.password), lstrlenA(kept.password));
}

void Transfer::ForgetServerCredentials() { SecureZeroMemory(&server_, sizeof server_); }
