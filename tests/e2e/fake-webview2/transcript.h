#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vtl::fake {

// The transcript of the fake WebView2 loader and the test installer: one line
// per event, fields separated by TAB. Text fields escape backslash, TAB, CR
// and LF as \\ \t \r \n, so that a line is always one event.
std::string EscapeField(std::string_view text);
std::string UnescapeField(std::string_view field);

using TranscriptLine = std::vector<std::string>;

// The line as written: every field escaped, joined by TAB, ended by LF.
std::string FormatLine(std::initializer_list<std::string_view> fields);
TranscriptLine ParseLine(std::string_view line);

// Appends one line to the file at `path` (UTF-8) in a single write through an
// append-only handle, and closes the file again: lines of processes writing
// at the same time never mix, and a reader always sees whole lines. False
// when the file could not be written.
bool AppendLine(const std::string& path, std::initializer_list<std::string_view> fields);
// The same for lines made with FormatLine, which then stay together.
bool AppendLines(const std::string& path, std::string_view lines);

// Every line of the file; empty when there is no file.
std::vector<TranscriptLine> ReadTranscript(const std::string& path);

// SHA-256 of `bytes` in lower-case hex: how a response body stands in a line.
std::string Sha256Hex(std::string_view bytes);

}  // namespace vtl::fake
