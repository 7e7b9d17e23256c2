#pragma once
// The program's handler convention: a procedure with a handler catches any run-time
// error at its boundary, writes one log line "description(Tag)" to the log of
// intToolKind, then does its own clean-up and returns normally.

#include <exception>
#include <string>
#include <string_view>

namespace ostrel {

// Writes "description(tag)" for `error`.
void LogError(std::string_view tag, const std::exception& error) noexcept;

// Writes "description(tag)" for a plain description ("" gives the line "(tag)").
void LogErrorText(std::string_view tag, std::string_view description) noexcept;

// Runs `body` under a handler tagged `tag`. Returns true when it completed, false
// after logging the error it raised.
template <typename Body>
bool RunHandled(std::string_view tag, Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (const std::exception& error) {
    LogError(tag, error);
  } catch (...) {
    LogErrorText(tag, "");
  }
  return false;
}

// The same, with the procedure's own clean-up: `clean_up(error)` runs after the line for
// an error of the standard kind. Any other error gets the line only.
template <typename Body, typename CleanUp>
bool RunHandled(std::string_view tag, Body&& body, CleanUp&& clean_up) noexcept {
  try {
    body();
    return true;
  } catch (const std::exception& error) {
    LogError(tag, error);
    clean_up(error);
  } catch (...) {
    LogErrorText(tag, "");
  }
  return false;
}

}  // namespace ostrel
