// A child process for the Win32 tests. Runs its commands in order:
//
//   write HEX   writes the bytes to standard output exactly as given
//   sleep MS    sleeps
//   waitfor PATH  waits until the file exists (at most 30 seconds)
//
// Exit code 0, or 2 for a command it does not know.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool WriteHex(const char* hex) {
  const size_t n = std::strlen(hex);
  if (n % 2 != 0) return false;
  std::string bytes;
  for (size_t i = 0; i < n; i += 2) {
    const char pair[3] = {hex[i], hex[i + 1], '\0'};
    char* end = nullptr;
    const unsigned long value = std::strtoul(pair, &end, 16);
    if (end != pair + 2) return false;
    bytes.push_back(static_cast<char>(value));
  }
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) &&
         written == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc % 2 == 0) return 2;
  for (int i = 1; i < argc; i += 2) {
    const std::string command = argv[i];
    if (command == "write") {
      if (!WriteHex(argv[i + 1])) return 2;
    } else if (command == "waitfor") {
      for (int waited = 0; waited < 30000 && GetFileAttributesA(argv[i + 1]) == INVALID_FILE_ATTRIBUTES; waited += 20)
        Sleep(20);
    } else if (command == "sleep") {
      Sleep(static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10)));
    } else {
      return 2;
    }
  }
  return 0;
}
