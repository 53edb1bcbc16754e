#pragma once

// The standard message dialog of start-up: the kind's picture, the text, and
// a row of standard buttons whose labels may be replaced.

#include <span>
#include <string_view>

#include "core/startup.h"

namespace vtl::win32 {

// Shows `Msg` modally, owned by the thread's active window if there is one,
// centred on the screen, and returns the modal result of the button chosen
// (vtl::ModalResultOf). Buttons appear in the standard order of
// vtl::DialogButton; the n-th gets the n-th of `ButtonCaptions` as its label
// while there is one. The default button is OK if present, else Yes, else
// Retry. The close box gives mrCancel, and so does Escape when Cancel is
// among the buttons. Pictures are the PNG resources "MSG_ERROR",
// "MSG_WARNING" and "MSG_INFO"; without them, the system's standard icons.
int LocalizedMessageDlg(std::string_view Msg, vtl::DialogKind DlgType, std::span<const vtl::DialogButton> Buttons,
                        std::span<const std::string_view> ButtonCaptions, std::string_view Caption);

}  // namespace vtl::win32
