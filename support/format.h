#pragma once
// printf-style formatting into a std::string: the one way the program fills its fixed formats
// ("%17s\t%15s\t%s", "Type: 0x%02X SubType: 0x%02X").
#include <string>

// The text that snprintf would write for `format` and its arguments, of any length. A "%c" of a
// zero byte puts a zero character into the result, as it would into a C buffer; whoever passes the
// result on as a C text (`.c_str()`) therefore sees it end there.
#if defined(__MINGW_PRINTF_FORMAT)
// MinGW's C99 printf (what the C++ library selects), not the system's older one.
std::string Format(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
#elif defined(__GNUC__)
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
std::string Format(const char* format, ...);
#endif
