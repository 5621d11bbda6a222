#include "output/display_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace vexel::cli {
namespace {

TEST(DisplayText, EscapesControlsAndBytesThatAreNotUtf8) {
  const struct {
    std::string text;
    std::string shown;  // DisplayText, for text lines
    std::string valid;  // Utf8Text, for JSON
  } cases[] = {
      {"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"", "", ""},
      {"a\\x0Ab", "a\\x0Ab", "a\\x0Ab"},  // a backslash stays as it is
      // C0 controls, DEL, and NUL inside the text
      {"a\nFAKE: MODULE LOADED", "a\\x0AFAKE: MODULE LOADED", "a\nFAKE: MODULE LOADED"},
      {"\r\t\x1b[2J\x7f", "\\x0D\\x09\\x1B[2J\\x7F", "\r\t\x1b[2J\x7f"},
      {std::string("a\0b", 3), "a\\x00b", std::string("a\0b", 3)},
      {"\x1f \x20", "\\x1F  ", "\x1f  "},
      // C1 controls are two bytes in UTF-8, each escaped; U+00A0 is not one
      {"\xc2\x80\xc2\x9b"
       "2J\xc2\x9f\xc2\xa0",
       "\\xC2\\x80\\xC2\\x9B2J\\xC2\\x9F\xc2\xa0",
       "\xc2\x80\xc2\x9b"
       "2J\xc2\x9f\xc2\xa0"},
      // valid UTF-8 of every length passes unchanged
      {"Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x94\x8c",
       "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x94\x8c",
       "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x94\x8c"},
      // a stray byte, a lone continuation byte, a lone 8-bit CSI
      {"/x/\xff", "/x/\\xFF", "/x/\\xFF"},
      {"\x80"
       "a",
       "\\x80a", "\\x80a"},
      {"\x9b"
       "2J",
       "\\x9B2J", "\\x9B2J"},
      // a sequence cut short, at the end and before an ASCII byte
      {"a\xc3", "a\\xC3", "a\\xC3"},
      {"\xe2\x82"
       "b",
       "\\xE2\\x82b", "\\xE2\\x82b"},
      // overlong forms, a surrogate, beyond U+10FFFF, bytes never used
      {"\xc0\xaf", "\\xC0\\xAF", "\\xC0\\xAF"},
      {"\xe0\x80\xaf", "\\xE0\\x80\\xAF", "\\xE0\\x80\\xAF"},
      {"\xed\xa0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},
      {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80"},
      {"\xf5\xfe", "\\xF5\\xFE", "\\xF5\\xFE"},
      // the highest code point and the last before the surrogates are fine
      {"\xf4\x8f\xbf\xbf\xed\x9f\xbf", "\xf4\x8f\xbf\xbf\xed\x9f\xbf",
       "\xf4\x8f\xbf\xbf\xed\x9f\xbf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisplayText(c.text), c.shown) << c.shown;
    EXPECT_EQ(Utf8Text(c.text), c.valid) << c.shown;
  }
}

TEST(DisplayText, JsonLineMakesEveryStringValid) {
  const nlohmann::json value = {{"port", "/x/\xff\n"},
                                {"list", {"ok", "\xc3", 7, nullptr}},
                                {"nested", {{"text", "\xe2\x82\xac\x80"}}}};
  EXPECT_THROW(value.dump(), nlohmann::json::type_error);
  EXPECT_EQ(JsonLine(value),
            R"({"list":["ok","\\xC3",7,null],"nested":{"text":"€\\x80"},"port":"/x/\\xFF\n"})");
  // The line parses, and the escape is there to read.
  EXPECT_EQ(nlohmann::json::parse(JsonLine(value))["port"], "/x/\\xFF\n");
}

}  // namespace
}  // namespace vexel::cli
