#pragma once

// What any source of events of the fake (the scenario, a browser) uses of its
// web view beyond the COM interfaces: the iframes of the top document.

#include <string>

namespace fake {

class WebView;
class Frame;

// A new iframe of the top document, raising FrameCreated on the web view.
Frame* CreateFrame(WebView& webView, const std::string& name, const std::string& source);
// The live frame of that name; nothing when there is none.
Frame* FindFrame(WebView& webView, const std::string& name);
// A message the frame's document posted: raises the frame's WebMessageReceived
// (never the web view's), with the frame's address as its source.
void RaiseFrameMessage(Frame& frame, const std::string& json);
// The frame's document is gone: raises the frame's Destroyed.
void DestroyFrame(WebView& webView, Frame& frame);

}  // namespace fake
