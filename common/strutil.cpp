#include "common/strutil.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/exceptions.h"

std::string FormatV(const char* fmt, va_list args) {
#ifdef _WIN32
  // _vsnprintf, not vsnprintf: in C++ mingw makes vsnprintf its own C99
  // formatter, some 20 KB of code in each shipped program. _vsnprintf
  // answers -1 when the text does not fit (and may then leave it
  // unterminated, as it does when the text fills the buffer exactly): the
  // buffer grows until the text and its terminator fit.
  std::vector<char> buf(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    const int n = _vsnprintf(buf.data(), buf.size(), fmt, copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    if (buf.size() >= (1u << 24)) return std::string();  // no text of this program is that long
    buf.resize(buf.size() * 2);
  }
#else
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, args);
  return std::string(buf.data(), static_cast<size_t>(n));
#endif
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = FormatV(fmt, args);
  va_end(args);
  return out;
}

int32_t StrToInt(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) throw EConvertError("'" + text + "' is not a valid integer value");
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') throw EConvertError("'" + text + "' is not a valid integer value");
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) throw EConvertError("'" + text + "' is not a valid integer value");
  }
  if (negative) value = -value;
  if (value > 2147483647LL) throw EConvertError("'" + text + "' is not a valid integer value");
  return static_cast<int32_t>(value);
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::string ExtractFilePath(const std::string& path) {
  size_t pos = path.find_last_of("\\:");
  if (pos == std::string::npos) return std::string();
  return path.substr(0, pos + 1);
}
