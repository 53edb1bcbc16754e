#pragma once

#include <string>

namespace vtl {

// What the system answered to a request it could refuse: accepted, or refused
// with the system's message for the reason (in the user's language, without
// trailing blanks, line breaks or full stops).
struct SystemOutcome {
  bool accepted = false;
  std::string errorMessage;

  static SystemOutcome Accepted() { return {true, {}}; }
  static SystemOutcome Refused(std::string message) { return {false, std::move(message)}; }
};

}  // namespace vtl
