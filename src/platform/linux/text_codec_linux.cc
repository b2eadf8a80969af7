#include "platform/text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace quil::platform {
namespace {

// A converter of this thread, opened once: opening one looks up and loads
// the character set's tables, which costs more than converting a text.
// Returned in its initial state; (iconv_t)-1 when it cannot be opened.
iconv_t KeptConverter(const char* to, const char* from) {
  struct Kept {
    const char* to;
    const char* from;
    iconv_t cd;
  };
  struct Converters {
    std::vector<Kept> open;
    ~Converters() {
      for (const Kept& k : open) iconv_close(k.cd);
    }
  };
  thread_local Converters converters;
  for (const Kept& k : converters.open) {
    if (std::strcmp(k.to, to) == 0 && std::strcmp(k.from, from) == 0) {
      iconv(k.cd, nullptr, nullptr, nullptr, nullptr);
      return k.cd;
    }
  }
  iconv_t cd = iconv_open(to, from);
  if (cd != reinterpret_cast<iconv_t>(-1)) converters.open.push_back({to, from, cd});
  return cd;
}

// Converts with iconv, replacing each input sequence that does not convert
// by "?" and skipping past it: one code point for UTF-8 input, one
// (possibly double-byte) character for code page 950 input.
std::string Convert(const char* to, const char* from, std::string_view in, bool from_utf8) {
  iconv_t cd = KeptConverter(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 2);
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  char buf[1024];
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, dst - buf);
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: one character that does not convert.
    out.push_back('?');
    size_t skip = 1;
    auto lead = static_cast<unsigned char>(*src);
    if (from_utf8) {
      if (lead >= 0xF0) skip = 4;
      else if (lead >= 0xE0) skip = 3;
      else if (lead >= 0xC0) skip = 2;
      // Never skip into the next character when the sequence is short.
      for (size_t i = 1; i < skip && i < left; ++i)
        if ((static_cast<unsigned char>(src[i]) & 0xC0) != 0x80) { skip = i; break; }
    } else if (lead >= 0x81 && left >= 2) {
      skip = 2;
    }
    if (skip > left) skip = left;
    src += skip;
    left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

std::string ToNarrow(std::string_view wide) {
  if (IsAscii(wide)) return std::string(wide);
  return Convert("CP950", "UTF-8", wide, true);
}

std::string ToWide(std::string_view narrow) {
  if (IsAscii(narrow)) return std::string(narrow);
  return Convert("UTF-8", "CP950", narrow, false);
}

}  // namespace quil::platform
