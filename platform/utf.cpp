#include "platform/utf.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16Le(std::string& out, char16_t unit) {
  out += char(unit & 0xFF);
  out += char(unit >> 8);
}

locale_t Utf8Locale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
  return locale;
}

}  // namespace

bool DecodeUtf8(std::string_view text, size_t& i, char32_t& c) {
  if (i >= text.size()) return false;
  unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || i + length > text.size()) return false;
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  char32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < kMinimum[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return false;
  c = value;
  i += length;
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

std::string Utf16LeToUtf8(std::string_view bytes) {
  auto unit = [&](size_t i) {
    return char32_t(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00) {
      char32_t low = i + 3 < bytes.size() ? unit(i + 2) : 0;
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c < 0xE000) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string Utf8ToUtf16Le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size();) {
    char32_t c = kReplacement;
    if (!DecodeUtf8(text, i, c)) {
      c = kReplacement;
      ++i;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      AppendUtf16Le(out, char16_t(0xD800 + (c >> 10)));
      AppendUtf16Le(out, char16_t(0xDC00 + (c & 0x3FF)));
    } else {
      AppendUtf16Le(out, char16_t(c));
    }
  }
  return out;
}

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  locale_t locale = Utf8Locale();
  for (size_t i = 0; i < text.size();) {
    unsigned char b = text[i];
    if (b < 0x80) {
      out += (b >= 'a' && b <= 'z') ? char(b - 'a' + 'A') : char(b);
      ++i;
      continue;
    }
    char32_t c;
    size_t start = i;
    if (!locale || !DecodeUtf8(text, i, c)) {
      out += text[start];  // not UTF-8: compared byte for byte
      i = start + 1;
      continue;
    }
    AppendUtf8(out, char32_t(towupper_l(wint_t(c), locale)));
  }
  return out;
}
