// Fuzzes the JSON writer: builds a value tree from the input and checks that
// serializeJson either refuses it, exactly when the tree holds something with
// no JSON form, or writes compact text that a strict parser reads back to the
// same tree.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "json.h"
#include "utf8_reference.h"

using halvic::JsonArray;
using halvic::JsonObject;
using halvic::JsonValue;
using halvic::fuzz::appendCodePoint;
using halvic::fuzz::wellFormedUtf8;

namespace {

// ordered_json keeps keys in text order, so the order can be compared too.
using Parsed = nlohmann::ordered_json;

[[noreturn]] void fail(const char* what, std::string_view text = {}) {
  std::fprintf(stderr, "fuzz_json_writer: %s\n  text: %.*s\n", what, static_cast<int>(text.size()),
               text.data());
  std::abort();
}

constexpr int kMaxDepth = 6;
constexpr std::size_t kMaxChildren = 6;

// Strings are made of pieces, so that well-formed text with every character
// class the writer escapes or guards is common, and ill-formed text is too.
std::string makeString(FuzzedDataProvider& in) {
  static constexpr std::string_view kEscaped[] = {"/", "\"", "\\", "\b", "\f", "\n", "\r", "\t",
                                                  std::string_view("\0", 1), "\x1f", "\x7f", "</"};
  std::string s;
  const auto pieces = in.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < pieces; ++i) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
      case 0: s += in.ConsumeRandomLengthString(12); break;  // raw bytes, any value
      case 1: appendCodePoint(s, in.ConsumeIntegralInRange<char32_t>(0, 0x10FFFF)); break;  // surrogates too
      case 2: appendCodePoint(s, in.ConsumeIntegralInRange<char32_t>(0x80, 0x7FF)); break;  // e.g. Turkish letters
      case 3: s += in.PickValueInArray(kEscaped); break;
      default: appendCodePoint(s, in.ConsumeIntegralInRange<char32_t>(0x20, 0x7E)); break;
    }
  }
  return s;
}

double makeDouble(FuzzedDataProvider& in) {
  static constexpr double kNotable[] = {
      0.0, -0.0, 1.0, -1.0, 0.1, 100.0, 1e21, 1e22, 9007199254740993.0, 18446744073709551616.0,
      std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
      std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN()};
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return in.PickValueInArray(kNotable);
    case 1: return static_cast<double>(in.ConsumeIntegral<std::int32_t>());
    default: return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());  // NaN payloads included
  }
}

JsonValue makeValue(FuzzedDataProvider& in, int depth) {
  const int lastKind = depth >= kMaxDepth ? 3 : 5;
  switch (in.ConsumeIntegralInRange<int>(0, lastKind)) {
    case 0: return JsonValue(in.ConsumeBool());
    case 1: return JsonValue(makeString(in));
    case 2: return JsonValue(in.ConsumeIntegral<std::int64_t>());
    case 3: return JsonValue(makeDouble(in));
    case 4: {
      JsonObject object;
      const auto n = in.ConsumeIntegralInRange<std::size_t>(0, kMaxChildren);
      for (std::size_t i = 0; i < n; ++i) {
        std::string key = makeString(in);
        object.set(std::move(key), makeValue(in, depth + 1));
      }
      return JsonValue(std::move(object));
    }
    default: {
      JsonArray array;
      const auto n = in.ConsumeIntegralInRange<std::size_t>(0, kMaxChildren);
      for (std::size_t i = 0; i < n; ++i) array.push_back(makeValue(in, depth + 1));
      return JsonValue(std::move(array));
    }
  }
}

// True when some part of the tree has no JSON form.
bool hasNoJsonForm(const JsonValue& value) {
  if (auto* d = value.as<double>()) return !std::isfinite(*d);
  if (auto* s = value.as<std::string>()) return !wellFormedUtf8(*s);
  if (auto* o = value.as<JsonObject>()) {
    for (const auto& [key, member] : o->members()) {
      if (!wellFormedUtf8(key) || hasNoJsonForm(member)) return true;
    }
  }
  if (auto* a = value.as<JsonArray>()) {
    for (const auto& element : *a) {
      if (hasNoJsonForm(element)) return true;
    }
  }
  return false;
}

// The numbers of the tree in the order the text must show them.
void collectNumbers(const JsonValue& value, std::vector<const JsonValue*>& out) {
  if (value.as<std::int64_t>() || value.as<double>()) out.push_back(&value);
  if (auto* o = value.as<JsonObject>()) {
    for (const auto& member : o->members()) collectNumbers(member.second, out);
  }
  if (auto* a = value.as<JsonArray>()) {
    for (const auto& element : *a) collectNumbers(element, out);
  }
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Lexical rules the parser does not enforce: no white space outside strings,
// every solidus escaped, short escapes where they exist, numeric escapes only
// for the other control characters. Returns the number tokens in text order.
std::vector<std::string_view> checkLexicalForm(std::string_view text) {
  std::vector<std::string_view> numbers;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!inString) {
      if (c == '"') {
        inString = true;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        fail("white space outside a string", text);
      } else if (c == '-' || (c >= '0' && c <= '9')) {
        const std::size_t start = i;
        while (i + 1 < text.size() && std::string_view("0123456789+-.eE").find(text[i + 1]) != std::string_view::npos) ++i;
        numbers.push_back(text.substr(start, i + 1 - start));
      }
      continue;
    }
    if (c == '"') {
      inString = false;
    } else if (c == '/') {
      fail("a solidus is not escaped", text);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      fail("a raw control character inside a string", text);
    } else if (c == '\\') {
      if (i + 1 >= text.size()) fail("a string ends in a backslash", text);
      const char e = text[++i];
      if (e == 'u') {
        if (i + 4 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]) || !isHex(text[i + 3]) ||
            !isHex(text[i + 4]))
          fail("a malformed numeric escape", text);
        const auto cp = std::strtoul(std::string(text.substr(i + 1, 4)).c_str(), nullptr, 16);
        if (cp >= 0x20) fail("a numeric escape for a character that must be written as itself", text);
        if (cp == '\b' || cp == '\f' || cp == '\n' || cp == '\r' || cp == '\t')
          fail("a numeric escape where a short escape exists", text);
        i += 4;
      } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        fail("an unknown escape", text);
      }
    }
  }
  return numbers;
}

// Each number token reads back, with the C library's own readers, as exactly
// the value it stands for; for doubles this keeps the sign of zero, which
// the tree comparison below cannot see.
void checkNumberTokens(const JsonValue& tree, const std::vector<std::string_view>& tokens, std::string_view text) {
  std::vector<const JsonValue*> numbers;
  collectNumbers(tree, numbers);
  if (numbers.size() != tokens.size()) fail("the text holds a different count of numbers", text);
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const std::string token(tokens[i]);
    if (auto* n = numbers[i]->as<std::int64_t>()) {
      std::int64_t read = 0;
      auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), read);
      if (ec != std::errc() || end != token.data() + token.size() || read != *n)
        fail("an integer is not written as its plain decimal digits", text);
    } else {
      const double d = *numbers[i]->as<double>();
      char* end = nullptr;
      errno = 0;
      const double read = std::strtod(token.c_str(), &end);
      if (end != token.c_str() + token.size() || std::bit_cast<std::uint64_t>(read) != std::bit_cast<std::uint64_t>(d))
        fail("a double does not read back bit for bit", text);
    }
  }
}

// The parsed text against the tree. A double may come back as an integer
// when its text has no fraction or exponent ("100", "-0"): it must then be the
// same number; the token check above has already pinned the exact bits.
bool sameValue(const JsonValue& expected, const Parsed& got) {
  if (auto* b = expected.as<bool>()) return got.is_boolean() && got.get<bool>() == *b;
  if (auto* s = expected.as<std::string>()) return got.is_string() && got.get_ref<const std::string&>() == *s;
  if (auto* n = expected.as<std::int64_t>()) {
    if (got.is_number_unsigned()) return *n >= 0 && got.get<std::uint64_t>() == static_cast<std::uint64_t>(*n);
    return got.is_number_integer() && got.get<std::int64_t>() == *n;
  }
  if (auto* d = expected.as<double>()) {
    if (got.is_number_float()) return std::bit_cast<std::uint64_t>(got.get<double>()) == std::bit_cast<std::uint64_t>(*d);
    if (got.is_number_unsigned()) return static_cast<double>(got.get<std::uint64_t>()) == *d;
    return got.is_number_integer() && static_cast<double>(got.get<std::int64_t>()) == *d;
  }
  if (auto* o = expected.as<JsonObject>()) {
    if (!got.is_object() || got.size() != o->size()) return false;
    auto it = got.items().begin();
    for (const auto& [key, member] : o->members()) {
      if (it.key() != key || !sameValue(member, it.value())) return false;
      ++it;
    }
    return true;
  }
  const auto& array = *expected.as<JsonArray>();
  if (!got.is_array() || got.size() != array.size()) return false;
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (!sameValue(array[i], got[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const JsonValue tree = makeValue(in, 0);
  const bool refusable = hasNoJsonForm(tree);

  const auto text = halvic::serializeJson(tree);
  const std::string printed = halvic::jsonTextOrFallback(tree);
  if (!text) {
    if (!refusable) fail("serializeJson refused a tree that has a JSON form");
    if (printed != halvic::kFallbackJson) fail("the printed text of a refused tree is not the fallback object", printed);
    return 0;
  }
  if (refusable) fail("serializeJson wrote a tree that has no JSON form", *text);
  if (printed != *text) fail("jsonTextOrFallback differs from serializeJson", printed);

  const auto tokens = checkLexicalForm(*text);
  const Parsed parsed = Parsed::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) fail("a strict parser rejects the text", *text);
  if (!sameValue(tree, parsed)) fail("the text does not read back to the tree", *text);
  checkNumberTokens(tree, tokens, *text);
  return 0;
}
