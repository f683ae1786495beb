// Fuzzes the JSON writer against nlohmann_json, from a value tree and its twin in the library: the tree must be
// refused exactly when it holds a non-finite number or text that is not UTF-8; otherwise its text reads back to the
// twin and, without doubles (whose shortest forms differ), is the library's text with every solidus escaped.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>

#include "json.h"

using halvic::JsonValue;
using Json = nlohmann::ordered_json;  // keeps keys in text order, so their order is compared too

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "fuzz_json_writer: %s\n  text: %.*s\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

struct TreeMaker {
  FuzzedDataProvider in;

  // Pieces the writer escapes or must refuse, well-formed multi-byte text,
  // and ill-formed sequences (surrogate, overlong, past U+10FFFF, cut short).
  std::string text() {
    static constexpr std::string_view kPieces[] = {
        "/", "\"", "\\", "\b", "\f", "\n", "\r", "\t", std::string_view("\0", 1), "\x1f", "\x7f", "</",
        "\xC3\xA7", "\xC4\x9F", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\xA0\x80", "\xC0\xAF",
        "\xF4\x90\x80\x80", "\xE2\x82", "a", "Z"};
    std::string s;
    for (int pieces = in.ConsumeIntegralInRange(0, 6); pieces > 0; --pieces)
      s += in.ConsumeBool() ? std::string(in.PickValueInArray(kPieces)) : in.ConsumeRandomLengthString(8);
    return s;
  }

  double number() {
    static constexpr double kNotable[] = {
        0.0, -0.0, 0.1, 100.0, -7.0, 1e21, 1e22, 9007199254740993.0, std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(), std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()};
    return in.ConsumeBool() ? in.PickValueInArray(kNotable)
                            : std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());  // NaN payloads too
  }

  template <typename T>
  static std::pair<JsonValue, Json> leaf(T v) {
    return {v, v};
  }

  std::pair<JsonValue, Json> value(int depth) {
    switch (in.ConsumeIntegralInRange(0, depth >= 6 ? 3 : 5)) {
      case 0: return leaf(in.ConsumeBool());
      case 1: return leaf(text());
      case 2: return leaf(in.ConsumeIntegral<std::int64_t>());
      case 3: return leaf(number());
      case 4: {
        halvic::JsonObject object;
        Json twin = Json::object();
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n) {
          const std::string key = text();
          auto [member, memberTwin] = value(depth + 1);
          object.set(key, std::move(member));
          twin[key] = std::move(memberTwin);  // a repeated key replaces the value in place, as in JsonObject
        }
        return {std::move(object), std::move(twin)};
      }
      default: {
        halvic::JsonArray array;
        Json twin = Json::array();
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n) {
          auto [element, elementTwin] = value(depth + 1);
          array.push_back(std::move(element));
          twin.push_back(std::move(elementTwin));
        }
        return {std::move(array), std::move(twin)};
      }
    }
  }
};

// The library's compact text (it refuses text that is not UTF-8), with the
// solidus escaped: outside strings JSON has none.
std::optional<std::string> libraryText(const Json& twin) {
  std::string text;
  try {
    text = twin.dump();
  } catch (const Json::type_error&) {
    return std::nullopt;
  }
  for (auto at = text.find('/'); at != std::string::npos; at = text.find('/', at + 2)) text.replace(at, 1, "\\/");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TreeMaker make{FuzzedDataProvider(data, size)};
  const auto [tree, twin] = make.value(0);
  bool hasDouble = false, nonFinite = false;  // among the values the tree holds (a repeated key drops one)
  for (const Json& leaf : twin.flatten()) {
    hasDouble |= leaf.is_number_float();
    nonFinite |= leaf.is_number_float() && !std::isfinite(leaf.get<double>());
  }
  const auto expected = nonFinite ? std::nullopt : libraryText(twin);
  const auto text = halvic::serializeJson(tree);
  if (text.has_value() != expected.has_value())
    fail("refused a tree that has a JSON form, or wrote one that has none", text.value_or(""));
  if (!text) return 0;
  if (!hasDouble && *text != *expected) fail("the text differs from the library's", *text);
  const Json parsed = Json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() || parsed != twin) fail("the text does not read back to the tree", *text);
  return 0;
}
