#include "support/IniFiles.h"

#include "base/Exceptions.h"
#include "base/FormatSettings.h"
#include "tests/common/TestSupport.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>

using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

namespace {

constexpr const char* kPoint = "The program cannot read a point from a INI file.";
constexpr const char* kQuote = "The program cannot read a quote string from a INI file.";
constexpr const char* kInt64 = "The program cannot read an __int64 value from a INI file.";
constexpr const char* kUInt64 = "The program cannot read an unsigned __int64 value from a INI file.";
constexpr const char* kDouble = "The program cannot read a double value from a INI file.";

// An INI file holding Text as the value of S/K exactly, without the trimming of a load.
TVarIniFile WithValue(const std::string& Text) {
  TVarIniFile ini("");
  ini.WriteString("S", "K", Text);
  return ini;
}

// Sets the decimal separator for one test and puts '.' back afterwards.
class SeparatorScope {
public:
  explicit SeparatorScope(char Separator) { SetDecimalSeparator(Separator); }
  ~SeparatorScope() { SetDecimalSeparator('.'); }
};

}  // namespace

// ---- Common reader rules ----

TEST(VarIniFileReaders, AnAbsentKeyGivesEveryDefaultUntouched) {
  TVarIniFile ini("");
  ini.WriteString("S", "Other", "1");
  const TRect rect {1, 2, 3, 4};
  const TPoint point {-5, 6};
  EXPECT_EQ(ini.ReadRect("S", "K", rect), rect);
  EXPECT_EQ(ini.ReadPoint("S", "K", point), point);
  EXPECT_EQ(ini.ReadQuotedString("S", "K", '"', "\"kept quotes\""), "\"kept quotes\"");
  EXPECT_EQ(ini.ReadQuotedString("Absent", "K", '"', "x"), "x");
  EXPECT_EQ(ini.ReadInt64("S", "K", INT64_MIN), INT64_MIN);
  EXPECT_EQ(ini.ReadUInt64("S", "K", UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(ini.ReadInt("S", "K", -9), -9);
  EXPECT_EQ(ini.ReadDouble("S", "K", 2.5), 2.5);
  EXPECT_TRUE(std::isnan(ini.ReadDouble("S", "K", std::nan(""))));
}

TEST(VarIniFileReaders, AnEmptyValueRaisesEachMessageButReadIntGivesTheDefault) {
  TVarIniFile ini("");
  ini.SetText("[S]\r\nK=\r\n");
  EXPECT_THROW_MSG(ini.ReadRect("S", "K", TRect {}), EIniFileException, kPoint);
  EXPECT_THROW_MSG(ini.ReadPoint("S", "K", TPoint {}), EIniFileException, kPoint);
  EXPECT_THROW_MSG(ini.ReadQuotedString("S", "K", '"', ""), EIniFileException, kQuote);
  EXPECT_THROW_MSG(ini.ReadInt64("S", "K", 0), EIniFileException, kInt64);
  EXPECT_THROW_MSG(ini.ReadUInt64("S", "K", 0), EIniFileException, kUInt64);
  EXPECT_THROW_MSG(ini.ReadDouble("S", "K", 0), EIniFileException, kDouble);
  EXPECT_EQ(ini.ReadInt("S", "K", 41), 41);
  EXPECT_EQ(ini.ReadInteger("S", "K", 42), 42);
}

TEST(VarIniFileReaders, ARejectedValueLeavesTheFileUsable) {
  TVarIniFile ini("");
  ini.SetText("[s]\r\nBad=abc\r\nGood=7\r\n");
  const std::string before = ini.Text();
  EXPECT_THROW(ini.ReadInt64("S", "bad", 0), EIniFileException);
  EXPECT_EQ(ini.Text(), before);
  EXPECT_EQ(ini.ReadInt64("S", "GOOD", 0), 7);
}

TEST(VarIniFileReaders, ReadIntIsReadIntegerAndWriteIntIsWriteInteger) {
  TVarIniFile ini("");
  ini.WriteInt("S", "a", -12);
  ini.WriteString("S", "b", "0x1F");
  ini.WriteString("S", "c", "red");
  EXPECT_EQ(ini.ReadString("S", "a", ""), "-12");
  EXPECT_EQ(ini.ReadInt("S", "a", 0), -12);
  EXPECT_EQ(ini.ReadInt("S", "b", 0), 31);
  EXPECT_EQ(ini.ReadInt("S", "c", 5), 5);
}

// ---- 64-bit integer grammar ----

TEST(VarIniFileInt64, AcceptsTheFullRangeAndHexPatterns) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"-9223372036854775808", INT64_MIN}, {"9223372036854775807", INT64_MAX},
      {"$FFFFFFFFFFFFFFFF", -1},           {"0xffffffffffffffff", -1},
      {"0X10", 16},                        {"-$1", -1},
      {"-$8000000000000000", INT64_MIN},   {"$7FFFFFFFFFFFFFFF", INT64_MAX},
      {"  5", 5},                          {"+5", 5},
      {"-0", 0},                           {"007", 7},
      {"$00000000000000000001", 1},        {"00000000000000000000000009223372036854775807", INT64_MAX},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(WithValue(text).ReadInt64("S", "K", 99), expected) << "text '" << text << "'";
}

TEST(VarIniFileInt64, RejectsOutOfRangeTextsAndForeignForms) {
  const char* rejected[] = {"9223372036854775808", "-9223372036854775809", "99999999999999999999",
                            "x10",                 "X10",                  "$",
                            "0x",                  "-",                    "+",
                            "$10000000000000000",  "5 ",                   "\t5",
                            "1.0",                 "12a",                  "--1",
                            "$-1",                 "1e3",                  " "};
  for (const char* text : rejected) {
    SCOPED_TRACE(text);
    EXPECT_THROW_MSG(WithValue(text).ReadInt64("S", "K", 0), EIniFileException, kInt64);
  }
}

TEST(VarIniFileInt64, WritesDecimalAndReadsItBack) {
  TVarIniFile ini("");
  for (const std::int64_t value : {INT64_MIN, INT64_MIN + 1, std::int64_t {-1}, std::int64_t {0},
                                   std::int64_t {4294967296}, INT64_MAX}) {
    ini.WriteInt64("S", "K", value);
    EXPECT_EQ(ini.ReadInt64("S", "K", 3), value);
  }
  ini.WriteInt64("S", "K", INT64_MIN);
  EXPECT_EQ(ini.ReadString("S", "K", ""), "-9223372036854775808");
}

TEST(VarIniFileUInt64, AcceptsTheWholeUnsignedRangeAndSignedPatterns) {
  const std::pair<const char*, std::uint64_t> cases[] = {
      {"18446744073709551615", UINT64_MAX},
      {"+18446744073709551615", UINT64_MAX},
      {"9223372036854775808", std::uint64_t {1} << 63},
      {"-1", UINT64_MAX},
      {"-9223372036854775808", std::uint64_t {1} << 63},
      {"$FFFFFFFFFFFFFFFF", UINT64_MAX},
      {" 0", 0},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(WithValue(text).ReadUInt64("S", "K", 99), expected) << "text '" << text << "'";
  for (const char* text : {"18446744073709551616", "-18446744073709551615", "x1", "1 ", "", "+"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW_MSG(WithValue(text).ReadUInt64("S", "K", 0), EIniFileException, kUInt64);
  }
}

TEST(VarIniFileUInt64, WritesDecimalAndReadsEveryValueBack) {
  TVarIniFile ini("");
  for (const std::uint64_t value : {std::uint64_t {0}, std::uint64_t {1} << 63, UINT64_MAX - 1, UINT64_MAX}) {
    ini.WriteUInt64("S", "K", value);
    EXPECT_EQ(ini.ReadUInt64("S", "K", 3), value);
  }
  EXPECT_EQ(ini.ReadString("S", "K", ""), "18446744073709551615");
}

// ---- Double grammar ----

TEST(VarIniFileDouble, ReadsTheDocumentedForms) {
  const std::pair<const char*, double> cases[] = {
      {"1e3", 1000},       {".5", 0.5},          {"1E", 1},           {"1E+", 1},         {"1e-", 1},
      {".", 0},            {"-.5", -0.5},        {"  2.5  ", 2.5},    {"+1.25", 1.25},    {"5.", 5},
      {"1e-3", 0.001},     {"0.1", 0.1},         {"1E308", 1e308},    {"1E-500", 0},      {"1E-4999", 0},
      {"1E-04999", 0},     {"0E4999", 0},        {"000123.4500", 123.45},                 {"-0", -0.0},
      {"0.30000000000000004", 0.1 + 0.2},        {"2.2250738585072014E-308", DBL_MIN},
      {"4.9406564584124654E-324", DBL_TRUE_MIN}, {"1.7976931348623157E308", DBL_MAX},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(WithValue(text).ReadDouble("S", "K", 99), expected) << "text '" << text << "'";
  EXPECT_TRUE(std::signbit(WithValue("-0").ReadDouble("S", "K", 1)));
}

TEST(VarIniFileDouble, KeepsPrecisionOverLongMantissas) {
  const std::string ones = "1" + std::string(399, '0') + "E-399";
  const std::string fraction = "0." + std::string(400, '0') + "1E401";
  const std::string digits = "123456789012345678901234567890";
  EXPECT_EQ(WithValue(ones).ReadDouble("S", "K", 0), 1.0);
  EXPECT_EQ(WithValue(fraction).ReadDouble("S", "K", 0), 1.0);
  EXPECT_DOUBLE_EQ(WithValue(digits).ReadDouble("S", "K", 0), 1.2345678901234568e29);
}

TEST(VarIniFileDouble, RejectsMalformedOverflowingAndNonFiniteTexts) {
  const char* rejected[] = {"",      " ",     "+",    "-",        "E5",      "e",     "1,5",    "1.5.5",
                            "1e3.5", "INF",   "-INF", "NAN",      "1,000",   "0x10",  "\t1",    "1e3x",
                            "1 2",   "1e499", "1e4999", "1E-5000", "1e49999", "1E309", "--1",   "1.7976931348623159E308",
                            "1e 3"};
  for (const char* text : rejected) {
    SCOPED_TRACE(text);
    EXPECT_THROW_MSG(WithValue(text).ReadDouble("S", "K", 0), EIniFileException, kDouble);
  }
}

TEST(VarIniFileDouble, WritesFifteenSignificantDigitsInTheGeneralFormat) {
  const std::pair<double, const char*> cases[] = {
      {0.1, "0.1"},         {0.00001, "1E-5"},     {1e15, "1E15"},          {0.1 + 0.2, "0.3"},
      {0.0, "0"},           {-0.0, "0"},           {1.5, "1.5"},            {-1.5, "-1.5"},
      {0.001, "0.001"},     {0.0001, "0.0001"},    {1.5e-5, "1.5E-5"},      {12.5e-3, "0.0125"},
      {100.0, "100"},       {1e14, "100000000000000"},                      {123456789012345.0, "123456789012345"},
      {1e-300, "1E-300"},   {1e300, "1E300"},      {-2.5e-10, "-2.5E-10"},  {1234567890123456.0, "1.23456789012346E15"},
      {9.999999999999999e22, "1E23"},              {0.9999999999999999, "1"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
  };
  for (const auto& [value, expected] : cases) {
    TVarIniFile ini("");
    ini.WriteDouble("S", "K", value);
    EXPECT_EQ(ini.ReadString("S", "K", ""), expected) << "value " << value;
  }
}

TEST(VarIniFileDouble, ReadsBackWhatItWritesAndRejectsNonFiniteValues) {
  TVarIniFile ini("");
  for (const double value : {0.1, 0.00001, 1e15, 1.5e-5, -123.456, 1e-300, 6.02214076e23, 0.0}) {
    ini.WriteDouble("S", "K", value);
    EXPECT_EQ(ini.ReadDouble("S", "K", 99), value) << ini.ReadString("S", "K", "");
  }
  ini.WriteDouble("S", "K", 0.1 + 0.2);
  EXPECT_EQ(ini.ReadDouble("S", "K", 99), 0.3);
  for (const double value : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    ini.WriteDouble("S", "K", value);
    EXPECT_THROW_MSG(ini.ReadDouble("S", "K", 0), EIniFileException, kDouble);
  }
}

TEST(VarIniFileDouble, UsesTheLocaleDecimalSeparator) {
  SeparatorScope comma(',');
  TVarIniFile ini("");
  ini.WriteDouble("S", "K", 1.5);
  EXPECT_EQ(ini.ReadString("S", "K", ""), "1,5");
  EXPECT_EQ(ini.ReadDouble("S", "K", 0), 1.5);
  ini.WriteDouble("S", "K", 1.5e-7);
  EXPECT_EQ(ini.ReadString("S", "K", ""), "1,5E-7");
  EXPECT_EQ(WithValue(",25").ReadDouble("S", "K", 0), 0.25);
  EXPECT_THROW_MSG(WithValue("1.5").ReadDouble("S", "K", 0), EIniFileException, kDouble);
}

// ---- Comma lists ----

TEST(VarIniFilePoint, SplitsAtCommasAndBlanks) {
  const std::pair<const char*, TPoint> cases[] = {
      {"1,2,3", {1, 2}},      {"10 , 20", {10, 20}},      {"10 20", {10, 20}},       {"\t1,\t2", {1, 2}},
      {"-5,$10", {-5, 16}},   {"\"1\",\"2\"", {1, 2}},    {"\" 7\" 8", {7, 8}},      {"1,2,", {1, 2}},
      {"1,2,\"x\"\"y\"", {1, 2}}, {"0x1F,x2", {31, 2}},   {"1\x01,\x1f" "2", {1, 2}},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(WithValue(text).ReadPoint("S", "K", TPoint {99, 99}), expected) << "text '" << text << "'";
}

TEST(VarIniFilePoint, RaisesThePointMessageForTooFewOrBadItems) {
  const char* rejected[] = {"5",          "1,,2",       ",1",      "1,",     "1,x",      "1,2147483648",
                            "\"1",        "1,\"2",      "\"1 \",2", "1;2",    "\"1\"\"\",2", "1,2,\"open"};
  for (const char* text : rejected) {
    SCOPED_TRACE(text);
    EXPECT_THROW_MSG(WithValue(text).ReadPoint("S", "K", TPoint {}), EIniFileException, kPoint);
  }
}

TEST(VarIniFilePoint, ANulEndsTheList) {
  EXPECT_EQ(WithValue(std::string("1,2\0,3", 6)).ReadPoint("S", "K", TPoint {}), (TPoint {1, 2}));
  EXPECT_THROW_MSG(WithValue(std::string("1\0,2", 4)).ReadPoint("S", "K", TPoint {}), EIniFileException, kPoint);
}

TEST(VarIniFileRect, ReadsFourItemsAndSharesThePointMessage) {
  EXPECT_EQ(WithValue("0,0,640,480").ReadRect("S", "K", TRect {}), (TRect {0, 0, 640, 480}));
  EXPECT_EQ(WithValue("1 2 3 4 5").ReadRect("S", "K", TRect {}), (TRect {1, 2, 3, 4}));
  EXPECT_EQ(WithValue("-1,$FFFFFFFF,+3,\"4\"").ReadRect("S", "K", TRect {}), (TRect {-1, -1, 3, 4}));
  EXPECT_THROW_MSG(WithValue("1,2,3").ReadRect("S", "K", TRect {}), EIniFileException, kPoint);
  EXPECT_THROW_MSG(WithValue("1,2,3,").ReadRect("S", "K", TRect {}), EIniFileException, kPoint);
  EXPECT_THROW_MSG(WithValue("1,2,3,4.0").ReadRect("S", "K", TRect {}), EIniFileException, kPoint);
}

TEST(VarIniFileCommaList, WritesDecimalsJoinedByCommasAndReadsThemBack) {
  TVarIniFile ini("");
  ini.WritePoint("S", "P", TPoint {10, -20});
  ini.WriteRect("S", "R", TRect {0, 0, 640, 480});
  EXPECT_EQ(ini.ReadString("S", "P", ""), "10,-20");
  EXPECT_EQ(ini.ReadString("S", "R", ""), "0,0,640,480");
  const TRect extremes {INT_MIN, INT_MAX, -1, 0};
  ini.WriteRect("S", "R", extremes);
  EXPECT_EQ(ini.ReadString("S", "R", ""), "-2147483648,2147483647,-1,0");
  EXPECT_EQ(ini.ReadRect("S", "R", TRect {}), extremes);
  ini.WritePoint("S", "P", TPoint {INT_MIN, INT_MAX});
  EXPECT_EQ(ini.ReadPoint("S", "P", TPoint {}), (TPoint {INT_MIN, INT_MAX}));
}

// ---- Quoted strings ----

TEST(VarIniFileQuoted, ReadsTheTextBetweenTheQuotesUnchanged) {
  EXPECT_EQ(WithValue("\"\"").ReadQuotedString("S", "K", '"', "d"), "");
  EXPECT_EQ(WithValue("\"a\"b\"").ReadQuotedString("S", "K", '"', "d"), "a\"b");
  EXPECT_EQ(WithValue("\" x \"").ReadQuotedString("S", "K", '"', "d"), " x ");
  EXPECT_EQ(WithValue("'x'").ReadQuotedString("S", "K", '\'', "d"), "x");
  for (const char* text : {"\"", "\"abc", "abc\"", "abc", "'x'", "\"x\" "}) {
    SCOPED_TRACE(text);
    EXPECT_THROW_MSG(WithValue(text).ReadQuotedString("S", "K", '"', "d"), EIniFileException, kQuote);
  }
}

TEST(VarIniFileQuoted, KeepsQuotesAndBlanksThroughAFileRoundTrip) {
  TempDir dir;
  {
    TVarIniFile ini(dir / "q.ini");
    ini.WriteQuotedString("S", "Inner", '"', "say \"hi\"");
    ini.WriteQuotedString("S", "Blanks", '"', "  /path with blanks/  ");
    ini.WriteQuotedString("S", "Empty", '"', "");
    ini.UpdateFile();
  }
  EXPECT_EQ(ReadFileBytes(dir / "q.ini"),
            "[S]\r\nInner=\"say \"hi\"\"\r\nBlanks=\"  /path with blanks/  \"\r\nEmpty=\"\"\r\n\r\n");
  TVarIniFile again(dir / "q.ini");
  EXPECT_EQ(again.ReadQuotedString("s", "inner", '"', ""), "say \"hi\"");
  EXPECT_EQ(again.ReadQuotedString("S", "Blanks", '"', ""), "  /path with blanks/  ");
  EXPECT_EQ(again.ReadQuotedString("S", "Empty", '"', "d"), "");
}

TEST(VarIniFileQuoted, RefusesALineBreakInTheValue) {
  TVarIniFile ini("");
  EXPECT_THROW_MSG(ini.WriteQuotedString("S", "K", '"', "a\r\n[X]"), EIniFileException,
                   "The program cannot write a line break into a INI file.");
  EXPECT_FALSE(ini.SectionExists("S"));
}

// ---- A whole settings file ----

TEST(VarIniFileFile, ClearedAndRewrittenSettingsHaveExactlyTheWrittenLines) {
  TempDir dir;
  WriteFileBytes(dir / "Settings.ini", "; mine\r\n[Hand]\r\nx=1\r\n[MainForm]\r\nlightcolor=$FF\r\n");
  TVarIniFile ini(dir / "Settings.ini");
  EXPECT_EQ(ini.ReadInteger("MainForm", "LightColor", 0), 255);
  ini.Clear();
  ini.WriteInteger("MainForm", "Left", -8);
  ini.WriteInteger("MainForm", "LightColor", 16777215);
  ini.WriteQuotedString("MainForm", "OutputDir", '"', " /home/u/Varnex Output");
  ini.WriteQuotedString("System", "CurrentDir", '"', "/home/u");
  ini.UpdateFile();
  EXPECT_EQ(ReadFileBytes(dir / "Settings.ini"),
            "[MainForm]\r\nLeft=-8\r\nLightColor=16777215\r\nOutputDir=\" /home/u/Varnex Output\"\r\n\r\n"
            "[System]\r\nCurrentDir=\"/home/u\"\r\n\r\n");
}
