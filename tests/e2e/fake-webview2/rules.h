#pragma once

// WebView2's documented rules, as the fake holds the runtime to them in every
// mode (tests/e2e/README.md, "The rules the fake keeps"):
//   - every object is single-threaded: a call from another thread than the
//     one that made the object fails with RPC_E_WRONG_THREAD, and is written
//     to the transcript as `wrong-thread`;
//   - completion handlers run later, through the calling thread's message
//     loop, never inside the call that started them;
//   - no reentrancy: while a handler of the host runs (even in a nested
//     message loop of its own), no further event is raised; events wait,
//     in order, until it has returned;
//   - text posted as JSON must be JSON.
// Every COM object of the fake stands on ThreadBound, every event on
// Handlers<H>, and every completion goes through Later, so that whatever
// raises events (the scenario, a browser) gets the rules with them.

#include <windows.h>

#include <EventToken.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "win32/com_ptr.h"

namespace fake {

// One transcript line, when this process has a transcript.
void Log(std::initializer_list<std::string_view> fields);

// Runs `task` later on the calling thread, from its message loop, in the
// order asked.
void Later(std::function<void()> task);
// A completion handler's call: later, through the message loop, and, like an
// event, never while a host handler of an event or completion still runs.
void Complete(std::string_view name, std::function<void()> invoke);
// Runs `task` on the calling thread once `ms` milliseconds have passed and
// its message loop runs; a later call with the same id replaces it.
void AfterTimer(UINT_PTR id, UINT ms, std::function<void()> task);
void CancelTimer(UINT_PTR id);

// Single-threaded objects ------------------------------------------------------------

class ThreadBound {
 protected:
  // RPC_E_WRONG_THREAD, written to the transcript as
  // `wrong-thread<TAB>method<TAB>calling thread<TAB>owning thread`, when
  // called from another thread than the one that made the object; else S_OK.
  HRESULT OffThread(const char* method) const;

 private:
  DWORD thread_ = GetCurrentThreadId();
};

// The first thing every implemented method does.
#define VTL_FAKE_ON_THREAD(method)                              \
  do {                                                           \
    if (const HRESULT off = OffThread(method); FAILED(off)) return off; \
  } while (0)

// A COM object of the fake seen as `Stub`'s interface, answering IUnknown and
// the identities `iids`.
template <class Stub, const IID&... iids>
class Com : public vtl::win32::ComObject<Stub>, public ThreadBound {
  bool Answers(REFIID riid) const override { return (IsEqualIID(riid, iids) || ...); }
};

template <class T, class... A>
vtl::win32::ComPtr<T> Make(A&&... args) {
  return vtl::win32::ComPtr<T>::Attach(new T(std::forward<A>(args)...));
}

// Events --------------------------------------------------------------------------------

// Runs `raise` (which calls the host's handlers) now, or, while another event's
// handlers are still running, once they have returned: held events run in the
// order raised, each from the message loop after the one before. An event held
// is written as `held<TAB>name`.
void Deliver(std::string_view name, std::function<void()> raise);
// True while a host handler of some event or completion runs.
bool RaisingEvent();

namespace detail {
template <class T>
vtl::win32::ComPtr<T> Keep(T* p) {
  return vtl::win32::ComPtr<T>(p);
}
}  // namespace detail

int64_t NextToken();

// The handlers registered for one event of one object. Raise and RaiseThen
// keep the rule of no reentrancy: the arguments are held (counted) for as long
// as the event waits.
template <class H>
class Handlers {
 public:
  explicit Handlers(const char* name) : name_(name) {}
  HRESULT Add(H* handler, EventRegistrationToken* token) {
    if (!handler || !token) return E_POINTER;
    token->value = NextToken();
    list_.emplace_back(token->value, vtl::win32::ComPtr<H>(handler));
    return S_OK;
  }
  HRESULT Remove(EventRegistrationToken token) {
    std::erase_if(list_, [&](const auto& entry) { return entry.first == token.value; });
    return S_OK;
  }
  // Raises the event; `after` runs right after the handlers returned (to read
  // what they put into the arguments).
  template <class... A>
  void RaiseThen(std::function<void()> after, A*... args) {
    Deliver(name_, [this, alive = alive_, after = std::move(after), kept = std::make_tuple(detail::Keep(args)...)] {
      if (!*alive) return;
      const auto copy = list_;
      for (const auto& entry : copy)
        std::apply([&](const auto&... held) { entry.second->Invoke(held.get()...); }, kept);
      if (after) after();
    });
  }
  template <class... A>
  void Raise(A*... args) {
    RaiseThen({}, args...);
  }
  bool Empty() const { return list_.empty(); }
  ~Handlers() { *alive_ = false; }

 private:
  const char* name_;
  std::vector<std::pair<int64_t, vtl::win32::ComPtr<H>>> list_;
  // Held events of an object that is gone do nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

#define VTL_FAKE_EVENT(Name, Handler)                                                                      \
  Handlers<Handler> Name##Handlers{#Name};                                                                 \
  HRESULT STDMETHODCALLTYPE add_##Name(Handler* handler, EventRegistrationToken* token) override {         \
    VTL_FAKE_ON_THREAD("add_" #Name);                                                                      \
    return Name##Handlers.Add(handler, token);                                                             \
  }                                                                                                        \
  HRESULT STDMETHODCALLTYPE remove_##Name(EventRegistrationToken token) override {                        \
    VTL_FAKE_ON_THREAD("remove_" #Name);                                                                   \
    return Name##Handlers.Remove(token);                                                                   \
  }

// JSON ------------------------------------------------------------------------------------

// True when `text` is one JSON value (RFC 8259) with optional white space
// around it: what PostWebMessageAsJson accepts.
bool IsJson(std::wstring_view text);

}  // namespace fake
