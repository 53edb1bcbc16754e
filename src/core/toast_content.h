#pragma once

// What a desktop notification is made of, independent of the system that
// shows it: the application identity it is shown under, and its content.

#include <string>
#include <string_view>

namespace vtl {

// "Vantrel.App." and eight lower-case hex digits: a hash of the executable's
// full path, ignoring ASCII letter case, so one program keeps one identity.
std::string NotificationAppUserModelId(std::string_view exePath);

// The toast document: with title and body both given, two lines (title, then
// body); otherwise one line of the title directly followed by the body. Short
// duration, default sound. Text is escaped for XML, and characters XML cannot
// carry are left out.
std::string ToastXml(std::string_view title, std::string_view body);

}  // namespace vtl
