#include "base/FormatSettings.h"

#include "tests/common/TestSupport.h"

#include <clocale>
#include <cstdlib>
#include <optional>

using varnex_test::TempDir;

namespace {

// Sets an environment variable for one scope and restores the old value afterwards.
class EnvScope {
public:
  EnvScope(const char* Name, const std::string& Value) : FName(Name) {
    if (const char* old = std::getenv(Name)) FOld = old;
    ::setenv(Name, Value.c_str(), 1);
  }
  ~EnvScope() {
    if (FOld) ::setenv(FName, FOld->c_str(), 1);
    else ::unsetenv(FName);
  }

private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Puts the C locale and the '.' separator back after a test that changed them.
class LocaleScope {
public:
  ~LocaleScope() {
    std::setlocale(LC_ALL, "C");
    SetDecimalSeparator('.');
  }
};

}  // namespace

TEST(FormatSettings, TheCLocaleAndAnUnknownLocaleGiveAPoint) {
  LocaleScope restore;
  for (const char* name : {"C", "xx_NOWHERE.UTF-8"}) {
    SetDecimalSeparator(',');
    EnvScope all("LC_ALL", name);
    InitFormatSettings();
    EXPECT_EQ(DecimalSeparator(), '.') << name;
  }
}

TEST(FormatSettings, ACommaLocaleGivesACommaWhileConversionsIgnoreTheCLocale) {
  TempDir dir;
  const std::string command = "localedef -i de_DE -f UTF-8 '" + dir.Path() + "/de_DE.UTF-8' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE here";
  LocaleScope restore;
  EnvScope path("LOCPATH", dir.Path());
  EnvScope all("LC_ALL", "de_DE.UTF-8");
  InitFormatSettings();
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(DecimalSeparator(), ',');
  EXPECT_EQ(FloatToStr(-2.5), "-2,5");
  // The separator held here rules, not the C library's LC_NUMERIC.
  SetDecimalSeparator('.');
  EXPECT_EQ(FloatToStr(1234.5), "1234.5");
  double value = 0;
  ASSERT_TRUE(TryTextToFloat("1234.5", value));
  EXPECT_EQ(value, 1234.5);
  EXPECT_FALSE(TryTextToFloat("1234,5", value));
}

TEST(FormatSettings, ConversionsLeaveTheValueAloneOnRejection) {
  int i = 7;
  std::int64_t l = 8;
  std::uint64_t u = 9;
  double d = 10;
  EXPECT_FALSE(TryStrToInt("x", i));
  EXPECT_FALSE(TryStrToInt64("x", l));
  EXPECT_FALSE(TryStrToUInt64("x", u));
  EXPECT_FALSE(TryTextToFloat("x", d));
  EXPECT_EQ(i, 7);
  EXPECT_EQ(l, 8);
  EXPECT_EQ(u, 9u);
  EXPECT_EQ(d, 10);
}
