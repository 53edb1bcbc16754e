// The UI driver against a form of this process, run on its own thread the way
// the runtime runs a modal form: messages pass through IsDialogMessage, and
// key releases in the edit box are watched from the loop.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "e2e_fixture.h"

namespace vtl::e2e {
namespace {

using namespace uidriver;

constexpr wchar_t kCaption[] = L"Driver check";

class Form {
 public:
  Form() {
    thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  ~Form() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  HWND window() const { return window_; }
  HWND edit() const { return edit_; }
  int releases() const { return releases_; }
  std::string TextAtLastRelease() {
    std::lock_guard lock(mutex_);
    return textAtRelease_;
  }
  // WM_COMMAND ids in order; -1 stands for WM_CLOSE.
  std::vector<int> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form && (message == WM_COMMAND || message == WM_CLOSE)) {
      if (message == WM_COMMAND && HIWORD(w) != BN_CLICKED) return DefWindowProcW(window, message, w, l);
      std::lock_guard lock(form->mutex_);
      form->events_.push_back(message == WM_CLOSE ? -1 : LOWORD(w));
      return 0;
    }
    return DefWindowProcW(window, message, w, l);
  }

  void Run() {
    threadId_ = GetCurrentThreadId();
    WNDCLASSW wc{};
    wc.lpfnWndProc = Procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VtlDriverCheckForm";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, kCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                                  100, 100, 320, 160, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int id) {
      return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, 22, window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), wc.hInstance, nullptr);
    };
    child(L"Static", L"Type the word:", 0, 10, 10, 200, 100);
    edit_ = child(L"Edit", L"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 10, 40, 200, 101);
    child(L"Button", L"&Accept", WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 80, 90, IDYES);
    child(L"Button", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 110, 80, 90, IDCANCEL);
    SetFocus(edit_);
    {
      std::lock_guard lock(mutex_);
      window_ = window;
      started_ = true;
    }
    ready_.notify_all();
    if (!window) return;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_KEYUP && msg.hwnd == edit_) {
        std::lock_guard lock(mutex_);
        textAtRelease_ = WindowText(edit_);
        ++releases_;
      }
      if (!IsDialogMessageW(window, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
  }

  std::thread thread_;
  DWORD threadId_ = 0;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  HWND window_ = nullptr;  // null when it could not be created
  HWND edit_ = nullptr;
  std::atomic<int> releases_{0};
  std::string textAtRelease_;
  std::vector<int> events_;
};

TEST(UiDriver, FindsTheFormAndListsItsControlsInTabOrder) {
  Form form;
  ASSERT_TRUE(form.window());
  const auto found = WaitForWindow(WindowQuery().OfProcess(GetCurrentProcessId()).WithCaption("Driver check"), Milliseconds(5000));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->handle, form.window());
  EXPECT_EQ(found->className, "VtlDriverCheckForm");
  EXPECT_FALSE(WaitForWindow(WindowQuery().OfProcess(GetCurrentProcessId() + 4).WithCaption("Driver check"), Milliseconds(0)));

  std::vector<std::string> listing;
  for (const auto& c : ChildControls(form.window())) listing.push_back(c.className + ":" + c.text);
  EXPECT_EQ(listing, (std::vector<std::string>{"Static:Type the word:", "Edit:", "Button:&Accept", "Button:Cancel"}));
  EXPECT_EQ(ButtonLabels(form.window()), (std::vector<std::string>{"Accept", "Cancel"}));
  EXPECT_EQ(ReadDialog(form.window()).caption, "Driver check");
}

TEST(UiDriver, ButtonLabelsReadAsTheUserReadsThem) {
  EXPECT_EQ(ButtonLabel("&Accept"), "Accept");
  EXPECT_EQ(ButtonLabel("Save && &Quit"), "Save & Quit");
  EXPECT_EQ(ButtonLabel("Akzeptieren"), "Akzeptieren");
}

TEST(UiDriver, TypingGivesEachCharacterOnceAndReleasesEveryKey) {
  Form form;
  ASSERT_TRUE(form.window());
  TypeText(form.edit(), "Wörd 1");
  ASSERT_TRUE(WaitUntil([&] { return form.releases() == 6; }, Milliseconds(5000))) << form.releases();
  EXPECT_EQ(form.TextAtLastRelease(), "Wörd 1");
  EXPECT_EQ(WindowText(form.edit()), "Wörd 1");

  ASSERT_TRUE(SetText(form.edit(), "replaced"));
  EXPECT_EQ(WindowText(form.edit()), "replaced");
  EXPECT_EQ(form.releases(), 6);  // setting text releases no key
}

TEST(UiDriver, ButtonsKeysAndClosingReachTheForm) {
  Form form;
  ASSERT_TRUE(form.window());
  EXPECT_TRUE(PressButton(form.window(), "Accept"));
  EXPECT_FALSE(PressButton(form.window(), "Nope"));
  PressKey(form.window(), VK_ESCAPE);
  Close(form.window());
  ASSERT_TRUE(WaitUntil([&] { return form.Events().size() == 3; }, Milliseconds(5000)));
  EXPECT_EQ(form.Events(), (std::vector<int>{IDYES, IDCANCEL, -1}));
}

}  // namespace
}  // namespace vtl::e2e
