#include "rules.h"

#include <deque>
#include <cwctype>
#include <map>

#include "fake_loader.h"
#include "transcript.h"

namespace fake {

void Log(std::initializer_list<std::string_view> fields) {
  if (const auto& transcript = Role().transcript) vtl::fake::AppendLine(*transcript, fields);
}

namespace {

// Work for later, per thread: a message-only window of the thread and its
// queue. Every object of the fake lives on one thread, so its work goes
// through that thread's loop.
constexpr UINT kRunTask = WM_APP + 7;

struct ThreadWork {
  HWND window = nullptr;
  std::deque<std::function<void()>> tasks;
  std::map<UINT_PTR, std::function<void()>> timers;
  // Events and completions that wait for a running handler to return.
  int running = 0;
  std::deque<std::function<void()>> held;
};
// A pointer, so that no thread-local destructor outlives the library; the
// library's unloading ends the unloading thread's work (DllMain below).
thread_local ThreadWork* threadWork = nullptr;

ThreadWork& Work() {
  if (!threadWork) threadWork = new ThreadWork();
  return *threadWork;
}

LRESULT CALLBACK WorkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunTask) {
    if (!Work().tasks.empty()) {
      auto task = std::move(Work().tasks.front());
      Work().tasks.pop_front();
      task();
    }
    return 0;
  }
  if (message == WM_TIMER) {
    KillTimer(window, wParam);
    const auto it = Work().timers.find(wParam);
    if (it == Work().timers.end()) return 0;
    auto task = std::move(it->second);
    Work().timers.erase(it);
    task();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND WorkWindow() {
  if (!Work().window) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = WorkWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VtlFakeWebView2";
    RegisterClassW(&wc);
    Work().window =
        CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  return Work().window;
}

void Run(const std::function<void()>& raise);

void RunHeld() {
  if (Work().running > 0 || Work().held.empty()) return;
  auto next = std::move(Work().held.front());
  Work().held.pop_front();
  Run(next);
}

void Run(const std::function<void()>& raise) {
  ++Work().running;
  raise();
  --Work().running;
  if (Work().running == 0 && !Work().held.empty()) Later(RunHeld);
}

int64_t nextToken = 1;

}  // namespace

void Later(std::function<void()> task) {
  const HWND window = WorkWindow();
  Work().tasks.push_back(std::move(task));
  PostMessageW(window, kRunTask, 0, 0);
}

void Complete(std::string_view name, std::function<void()> invoke) {
  Later([name = std::string(name), invoke = std::move(invoke)]() mutable { Deliver(name, std::move(invoke)); });
}

void AfterTimer(UINT_PTR id, UINT ms, std::function<void()> task) {
  Work().timers[id] = std::move(task);
  SetTimer(WorkWindow(), id, ms, nullptr);
}

void CancelTimer(UINT_PTR id) {
  if (Work().timers.erase(id) && Work().window) KillTimer(Work().window, id);
}

HRESULT ThreadBound::OffThread(const char* method) const {
  const DWORD caller = GetCurrentThreadId();
  if (caller == thread_) return S_OK;
  Log({"wrong-thread", method, std::to_string(caller), std::to_string(thread_)});
  return RPC_E_WRONG_THREAD;
}

void Deliver(std::string_view name, std::function<void()> raise) {
  if (Work().running > 0 || !Work().held.empty()) {
    Log({"held", name});
    Work().held.push_back(std::move(raise));
    if (Work().running == 0) Later(RunHeld);
    return;
  }
  Run(raise);
}

bool RaisingEvent() { return Work().running > 0; }

int64_t NextToken() { return nextToken++; }

// JSON ------------------------------------------------------------------------------------

namespace {

class JsonChecker {
 public:
  explicit JsonChecker(std::wstring_view text) : s_(text) {}

  bool Check() {
    // Containers open, innermost last: '{' or '['.
    std::vector<wchar_t> open;
    Space();
    for (;;) {
      // A value.
      if (At('{') || At('[')) {
        const wchar_t kind = s_[i_++];
        Space();
        if (At(kind == '{' ? '}' : ']')) {
          ++i_;
        } else {
          open.push_back(kind);
          if (kind == '{' && !Key()) return false;
          continue;
        }
      } else if (!Scalar()) {
        return false;
      }
      // After a value: a comma, a closing bracket, or the end.
      for (;;) {
        Space();
        if (open.empty()) return i_ == s_.size();
        if (At(',')) {
          ++i_;
          Space();
          if (open.back() == '{' && !Key()) return false;
          break;
        }
        if (!At(open.back() == '{' ? '}' : ']')) return false;
        ++i_;
        open.pop_back();
      }
    }
  }

 private:
  bool At(wchar_t c) const { return i_ < s_.size() && s_[i_] == c; }
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }
  bool Key() {
    if (!String()) return false;
    Space();
    if (!At(':')) return false;
    ++i_;
    Space();
    return true;
  }
  bool Word(std::wstring_view word) {
    if (s_.substr(i_, word.size()) != word) return false;
    i_ += word.size();
    return true;
  }
  bool Digits() {
    const size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > start;
  }
  bool Number() {
    if (At('-')) ++i_;
    if (At('0')) {
      ++i_;
    } else if (!Digits()) {
      return false;
    }
    if (At('.')) {
      ++i_;
      if (!Digits()) return false;
    }
    if (At('e') || At('E')) {
      ++i_;
      if (At('+') || At('-')) ++i_;
      if (!Digits()) return false;
    }
    return true;
  }
  bool String() {
    if (!At('"')) return false;
    for (++i_; i_ < s_.size(); ++i_) {
      const wchar_t c = s_[i_];
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (++i_ >= s_.size()) return false;
      switch (s_[i_]) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': break;
        case 'u':
          for (int k = 0; k < 4; ++k) {
            if (++i_ >= s_.size() || !iswxdigit(s_[i_])) return false;
          }
          break;
        default: return false;
      }
    }
    return false;
  }
  bool Scalar() {
    if (At('"')) return String();
    if (At('t')) return Word(L"true");
    if (At('f')) return Word(L"false");
    if (At('n')) return Word(L"null");
    return Number();
  }

  std::wstring_view s_;
  size_t i_ = 0;
};

}  // namespace

bool IsJson(std::wstring_view text) { return JsonChecker(text).Check(); }

}  // namespace fake

// Unloaded by FreeLibrary (a test that loaded the fake into itself): the
// window of this thread goes first, since its procedure goes with the library.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && fake::threadWork) {
    if (fake::threadWork->window) DestroyWindow(fake::threadWork->window);
    UnregisterClassW(L"VtlFakeWebView2", GetModuleHandleW(nullptr));
    delete fake::threadWork;
    fake::threadWork = nullptr;
  }
  return TRUE;
}
