#pragma once

// The main window as the window and application commands change it.

#include <cstdint>
#include <string>

namespace vtl {

enum class WindowState { Normal, Minimized, Maximized };

// The [App] WindowBorder ordinals.
enum class BorderStyle : int32_t { None = 0, Single = 1, Sizeable = 2, Dialog = 3, ToolWindow = 4, SizeToolWin = 5 };

// The outer frame in screen pixels.
struct WindowBounds {
  int32_t left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const WindowBounds&, const WindowBounds&) = default;
};

class WindowService {
 public:
  virtual ~WindowService() = default;

  virtual bool StaysOnTop() = 0;
  virtual void SetStaysOnTop(bool onTop) = 0;

  virtual WindowState State() = 0;
  virtual void SetState(WindowState state) = 0;

  virtual std::string Caption() = 0;
  virtual void SetCaption(const std::string& caption) = 0;

  virtual WindowBounds Bounds() = 0;
  // In one step; the window's minimum and maximum sizes still apply.
  virtual void SetBounds(const WindowBounds& bounds) = 0;

  // Values outside the enumeration are the window's to interpret.
  virtual void SetBorderStyle(int32_t border) = 0;

  // Makes the window visible again and brings it to the front.
  virtual void ShowAndBringToFront() = 0;
  // Hides the window, which leaves the taskbar.
  virtual void Hide() = 0;
};

}  // namespace vtl
