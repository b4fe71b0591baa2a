// Runs a piece of work so that a structured exception escaping it (an access violation, an illegal
// instruction, a raised exception nobody handles) ends the work instead of the process, and so that
// nothing the work acquired through a FaultReleased owner stays open.
//
// The guard is a frame-based SEH registration on the calling thread's own chain, so it sees only what
// escapes the work on this thread, after every handler inside the work (a system function's own
// __except, for instance) has had its chance. The frames between the guard and the fault are
// abandoned the way an __except block abandons them; what they held is released because every
// FaultReleased owner created inside the guarded call is listed with the guard while it lives.
#pragma once

#include <windows.h>

#include <utility>

// Runs work(context) on the calling thread. Returns true when the work returned normally; false when a
// structured exception escaped it, with the exception's code in *exceptionCode when that is not null.
// Either way the thread's SEH chain and stack are as they were before the call.
bool RunUnderFaultGuard(void (*work)(void* context), void* context, DWORD* exceptionCode = nullptr);

// Something a fault in guarded work must not leave holding a resource. While it lives inside a
// guarded call on the thread that created it, it is listed with that (innermost) guard; after a fault
// the guard calls ReleaseAfterFault on every listed object, newest first, before it returns. Outside
// any guard it is an ordinary object.
class FaultCleanup {
public:
  FaultCleanup(const FaultCleanup&) = delete;
  FaultCleanup& operator=(const FaultCleanup&) = delete;
  virtual void ReleaseAfterFault() = 0;

protected:
  FaultCleanup();
  virtual ~FaultCleanup();

private:
  friend struct GuardFrame;
  struct GuardFrame* guard_ = nullptr;
  FaultCleanup* older_ = nullptr;
  FaultCleanup* newer_ = nullptr;
};

// A handle owner (UniqueAny) that a fault in guarded work releases.
template <typename Owner>
class FaultReleased : private FaultCleanup {
public:
  using Value = decltype(std::declval<Owner>().get());

  FaultReleased() = default;
  explicit FaultReleased(Value value) : owner_(value) {}
  FaultReleased(Owner owner) : owner_(std::move(owner)) {}  // NOLINT: takes over an owner
  FaultReleased& operator=(Owner owner) {
    owner_ = std::move(owner);
    return *this;
  }

  auto get() const { return owner_.get(); }
  auto put() { return owner_.put(); }
  explicit operator bool() const { return static_cast<bool>(owner_); }
  // Hands the resource on to an ordinary owner (to return it to the caller).
  Owner Take() { return std::move(owner_); }

private:
  void ReleaseAfterFault() override { owner_.reset(); }
  Owner owner_;
};
