// The WebView2 SDK header includes the Windows SDK's "EventToken.h"; mingw-w64
// ships the same declarations in lower case.
#pragma once
#include <eventtoken.h>
