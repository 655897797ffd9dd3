#include "common/TimeText.h"

#include "common/Clock.h"

#include <algorithm>
#include <cstdio>

namespace sentorix
{

std::string formatTimeText(const std::tm& when)
{
    // Room for any int values, so an odd broken-down time is never cut.
    char text[80];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d [%02d:%02d:%02d]", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return text;
}

std::string formatTimeText()
{
    return formatTimeText(systemClock());
}

void formatTimeText(char* buffer, std::size_t size)
{
    if (!buffer || size == 0)
        return;
    const std::string text = formatTimeText();
    const std::size_t length = std::min(text.size(), size - 1);
    text.copy(buffer, length);
    buffer[length] = '\0';
}

} // namespace sentorix
