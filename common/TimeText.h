// The time text of the system: "2011/05/07 [09:03:00]", local time, four-digit year.
#pragma once

#include <ctime>
#include <string>

namespace sentorix
{

// Room a caller's buffer needs for the time text and its terminator.
inline constexpr std::size_t kTimeTextSize = 22;

// Formats `when` (local broken-down time) as time text.
std::string formatTimeText(const std::tm& when);

// The current local time as time text.
std::string formatTimeText();

// Writes the current local time as time text into `buffer`, which holds at least
// kTimeTextSize bytes; the text is always terminated.
void formatTimeText(char* buffer, std::size_t size);

} // namespace sentorix
