// UTF-8 <-> UTF-16, the system's error texts and the handle holders.
#include <windows.h>
#include <gtest/gtest.h>

#include "winsupport/system_text.h"
#include "winsupport/unique_handle.h"
#include "winsupport/utf16.h"

namespace vexel {
namespace {

TEST(Utf16, TextsConvertBothWays) {
  struct Case {
    std::string utf8;
    std::wstring utf16;
  };
  const Case cases[] = {
      {"", L""},
      {"COM3", L"COM3"},
      {"Gr\xC3\xB6\xC3\x9F"
       "e",
       L"Gr\u00F6\u00DFe"},                                                  // two-byte sequences
      {"\xE2\x82\xAC 5", L"\u20AC 5"},                                       // three bytes
      {"\xF0\x9F\x94\x8C", std::wstring{wchar_t(0xD83D), wchar_t(0xDD0C)}},  // a surrogate pair
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},                    // a NUL is a character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Widen(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Narrow(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(Utf16, WhatDoesNotConvertBecomesTheReplacementCharacter) {
  EXPECT_EQ(Widen("a\xFF"
                  "b"),
            L"a\uFFFDb");
  EXPECT_EQ(Narrow(std::wstring{L'a', wchar_t(0xD800), L'b'}),
            "a\xEF\xBF\xBD"
            "b");
}

// The text the session's language gives, as UTF-8 whatever its ANSI code page.
TEST(SystemErrorText, IsUtf8WithoutItsLineEnd) {
  for (DWORD error : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}) {
    const std::string text = SystemErrorText(error);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text, "Error " + std::to_string(error)) << "the system has a text for it";
    EXPECT_EQ(Narrow(Widen(text)), text) << "valid UTF-8: " << text;
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_NE(text.back(), ' ');
  }
}

// Run in a Russian session (ctest's winsupport_tests.russian), where the ANSI
// code page is 1251: the texts must still arrive as UTF-8.
TEST(SystemErrorText, ARussianSessionGetsRussianUtf8) {
  if (PRIMARYLANGID(::GetUserDefaultUILanguage()) != LANG_RUSSIAN)
    GTEST_SKIP() << "not a Russian session";
  EXPECT_EQ(SystemErrorText(ERROR_FILE_NOT_FOUND),
            "\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB \xD0\xBD\xD0\xB5 \xD0\xBD\xD0\xB0\xD0\xB9"
            "\xD0\xB4\xD0\xB5\xD0\xBD.");  // "Файл не найден."
}

TEST(SystemErrorText, ACodeWithoutTextIsNamedByNumber) {
  EXPECT_EQ(SystemErrorText(0x7FFF0001u), "Error 2147418113");
}

bool IsOpenHandle(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesWhatItHoldsOnceWhenItGoes) {
  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueHandle event(raw);
    UniqueHandle moved = std::move(event);
    EXPECT_EQ(event.get(), nullptr);
    EXPECT_TRUE(IsOpenHandle(raw)) << "a move hands it on, open";
  }
  EXPECT_FALSE(IsOpenHandle(raw));
}

TEST(UniqueHandle, AFailedCreateFileGivesAnEmptyHolder) {
  EXPECT_EQ(OwnFile(INVALID_HANDLE_VALUE), nullptr);
  HANDLE file = ::CreateFileW(L"NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OwnFile(file).get(), file);
  EXPECT_FALSE(IsOpenHandle(file));
}

TEST(UniqueRegistryKey, ClosesTheKey) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
  UniqueRegistryKey owned(key);
  DWORD subkeys = 0;
  EXPECT_EQ(::RegQueryInfoKeyW(owned.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  owned.reset();
  EXPECT_NE(::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
}

}  // namespace
}  // namespace vexel
