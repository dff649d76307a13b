// Name conversion: iconv on the publisher's Linux machine, the Win32 code
// page functions when mkupdate itself is built for Windows.
#include "tools/mkupdate/encoding.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>

static bool Convert(const std::string &in, UINT from, UINT to, std::string *out) {
  out->clear();
  if (in.empty())
    return true;
  int wide_length = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (wide_length <= 0)
    return false;
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), &wide[0], wide_length);
  BOOL used_default = FALSE;
  BOOL *default_flag = to == CP_UTF8 ? nullptr : &used_default;
  DWORD flags = to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int length = WideCharToMultiByte(to, flags, wide.data(), wide_length, nullptr, 0, nullptr, default_flag);
  if (length <= 0 || used_default)
    return false;
  out->assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(to, flags, wide.data(), wide_length, &(*out)[0], length, nullptr, default_flag);
  return !used_default;
}

static bool ConvertOneWay(const std::string &in, bool to_cp932, std::string *out) {
  return to_cp932 ? Convert(in, CP_UTF8, 932, out) : Convert(in, 932, CP_UTF8, out);
}
#else
#include <iconv.h>

#include <cerrno>

static bool ConvertOneWay(const std::string &in, bool to_cp932, std::string *out) {
  out->clear();
  iconv_t cd = to_cp932 ? iconv_open("CP932", "UTF-8") : iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return false;
  std::string input = in;
  char *in_ptr = input.empty() ? nullptr : &input[0];
  size_t in_left = input.size();
  bool ok = true;
  char chunk[256];
  while (in_left > 0) {
    char *out_ptr = chunk;
    size_t out_left = sizeof chunk;
    size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out->append(chunk, sizeof chunk - out_left);
    if (result == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
    if (result != static_cast<size_t>(-1) && result > 0) {
      ok = false; // irreversible (approximated) conversion
      break;
    }
  }
  iconv_close(cd);
  return ok;
}
#endif

// Both directions must agree, so that a name never lands under another one.
static bool ConvertExactly(const std::string &in, bool to_cp932, std::string *out) {
  std::string back;
  return ConvertOneWay(in, to_cp932, out) && ConvertOneWay(*out, !to_cp932, &back) && back == in;
}

bool Utf8ToCp932(const std::string &utf8, std::string *cp932) { return ConvertExactly(utf8, true, cp932); }

bool Cp932ToUtf8(const std::string &cp932, std::string *utf8) { return ConvertExactly(cp932, false, utf8); }

std::string PrintableName(const std::string &cp932) {
  std::string utf8;
  if (Cp932ToUtf8(cp932, &utf8))
    return utf8;
  std::string escaped;
  for (unsigned char c : cp932) {
    char hex[8];
    if (c >= 0x20 && c < 0x7F)
      escaped += static_cast<char>(c);
    else if (std::snprintf(hex, sizeof hex, "\\x%02X", c) == 4)
      escaped += hex;
  }
  return escaped;
}
