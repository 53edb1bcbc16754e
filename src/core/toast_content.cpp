#include "core/toast_content.h"

#include <cstdint>

namespace vtl {
namespace {

void AppendEscaped(std::string& xml, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': xml += "&amp;"; break;
      case '<': xml += "&lt;"; break;
      case '>': xml += "&gt;"; break;
      case '"': xml += "&quot;"; break;
      case '\'': xml += "&apos;"; break;
      default:
        // Controls other than tab and line breaks are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') break;
        xml += c;
    }
  }
}

void AppendLine(std::string& xml, int id, std::string_view first, std::string_view second = {}) {
  xml += "<text id=\"" + std::to_string(id) + "\">";
  AppendEscaped(xml, first);
  AppendEscaped(xml, second);
  xml += "</text>";
}

}  // namespace

std::string NotificationAppUserModelId(std::string_view exePath) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (char c : exePath) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  static const char digits[] = "0123456789abcdef";
  std::string id = "Vantrel.App.";
  for (int shift = 28; shift >= 0; shift -= 4) id += digits[(hash >> shift) & 15];
  return id;
}

std::string ToastXml(std::string_view title, std::string_view body) {
  const bool twoLines = !title.empty() && !body.empty();
  std::string xml = "<toast duration=\"short\"><visual><binding template=\"";
  xml += twoLines ? "ToastText02" : "ToastText01";
  xml += "\">";
  if (twoLines) {
    AppendLine(xml, 1, title);
    AppendLine(xml, 2, body);
  } else {
    AppendLine(xml, 1, title, body);
  }
  xml += "</binding></visual><audio src=\"ms-winsoundevent:Notification.Default\"/></toast>";
  return xml;
}

}  // namespace vtl
