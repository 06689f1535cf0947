#include "base/FormatSettings.h"

#include <atomic>
#include <charconv>
#include <clocale>
#include <cmath>

namespace {

// Written at start-up and on a settings change, read by any thread that converts a double.
std::atomic<char> GDecimalSeparator {'.'};

int HexDigitValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

// A separator that the double grammar would confuse with a digit, a sign, an exponent
// or a blank cannot be used, so such a locale falls back to '.'.
bool UsableSeparator(char C) {
  return C != '\0' && C != ' ' && !IsDigit(C) && C != '+' && C != '-' && C != 'e' && C != 'E';
}

std::size_t SkipSpaces(const std::string& Text, std::size_t I) {
  while (I < Text.size() && Text[I] == ' ') ++I;
  return I;
}

// Reads an optional '+' or '-' at I; true when it was '-'.
bool TakeSign(const std::string& Text, std::size_t& I) {
  if (I < Text.size() && (Text[I] == '-' || Text[I] == '+')) return Text[I++] == '-';
  return false;
}

// Skips a hexadecimal prefix at I: '$', '0x' or '0X', and with BareX also 'x' or 'X'.
bool TakeHexPrefix(const std::string& Text, std::size_t& I, bool BareX) {
  if (I < Text.size() && (Text[I] == '$' || (BareX && (Text[I] == 'x' || Text[I] == 'X')))) {
    I += 1;
    return true;
  }
  if (I + 1 < Text.size() && Text[I] == '0' && (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
    I += 2;
    return true;
  }
  return false;
}

// The 64-bit grammar: stores the resulting pattern; false when the text is rejected.
bool Parse64(const std::string& Text, std::uint64_t& Pattern) {
  std::size_t i = SkipSpaces(Text, 0);
  const bool negative = TakeSign(Text, i);
  const std::size_t n = Text.size();
  std::uint64_t value = 0;
  std::size_t taken = 0;
  const bool hex = TakeHexPrefix(Text, i, false);
  if (hex) {
    // A value above this bound has used up all 16 digits (or carries the sign bit).
    for (; i < n && HexDigitValue(Text[i]) >= 0 && value <= 0x0FFFFFFFFFFFFFFFull; ++i, ++taken)
      value = value * 16 + static_cast<std::uint64_t>(HexDigitValue(Text[i]));
  } else {
    for (; i < n && IsDigit(Text[i]) && value <= 922337203685477580ull; ++i, ++taken)
      value = value * 10 + static_cast<std::uint64_t>(Text[i] - '0');
  }
  if (taken == 0 || i != n) return false;
  const std::uint64_t result = negative ? 0 - value : value;
  if (!hex && result != 0 && (static_cast<std::int64_t>(result) < 0) != negative) return false;
  Pattern = result;
  return true;
}

// Unsigned decimal text over the whole 64-bit range, with an optional '+'.
bool ParseUnsignedDecimal(const std::string& Text, std::uint64_t& Value) {
  std::size_t i = SkipSpaces(Text, 0);
  if (i < Text.size() && Text[i] == '+') ++i;
  if (i == Text.size()) return false;
  std::uint64_t value = 0;
  for (; i < Text.size(); ++i) {
    if (!IsDigit(Text[i])) return false;
    const auto digit = static_cast<std::uint64_t>(Text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  Value = value;
  return true;
}

// The mantissa of a double text: up to 19 significant digits (more than the 64 bits
// of an extended mantissa hold) and a power-of-ten adjustment for the rest.
struct TMantissa {
  std::uint64_t Digits = 0;
  int Significant = 0;
  std::int64_t Exponent = 0;

  void Add(int Digit, bool Fraction) {
    if (Digits == 0 && Digit == 0) {
      if (Fraction) --Exponent;
    } else if (Significant < 19) {
      Digits = Digits * 10 + static_cast<std::uint64_t>(Digit);
      ++Significant;
      if (Fraction) --Exponent;
    } else if (!Fraction) {
      ++Exponent;
    }
  }
};

// Digits times ten to Exponent in extended precision; false when it overflows a double.
bool ScaleToDouble(std::uint64_t Digits, std::int64_t Exponent, bool Negative, double& Value) {
  long double magnitude = 0.0L;
  // With at most 19 digits, a power beyond these bounds overflows or underflows any double.
  if (Digits != 0 && Exponent > 400) return false;
  if (Digits != 0 && Exponent >= -400) {
    const long double power = std::pow(10.0L, static_cast<long double>(Exponent < 0 ? -Exponent : Exponent));
    magnitude = Exponent < 0 ? static_cast<long double>(Digits) / power : static_cast<long double>(Digits) * power;
  }
  // Values from here up round to infinity as a double.
  const long double overflow = std::ldexp(1.0L, 1024) - std::ldexp(1.0L, 970);
  if (!(magnitude < overflow)) return false;
  const double result = static_cast<double>(magnitude);
  Value = Negative ? -result : result;
  return true;
}

// The digits of Magnitude rounded to 15 significant ones, trailing zeros dropped, and
// the exponent that makes Magnitude = 0.d1d2... * 10^Exponent.
std::string FifteenDigits(double Magnitude, int& Exponent) {
  // d.dddddddddddddde±x, correctly rounded from the binary value.
  char buffer[48];
  const auto printed = std::to_chars(buffer, buffer + sizeof buffer, Magnitude, std::chars_format::scientific, 14);
  const std::string text(buffer, printed.ptr);
  const std::size_t e = text.find('e');
  std::string digits = text.substr(0, 1) + text.substr(2, e - 2);
  digits.erase(digits.find_last_not_of('0') + 1);
  int power = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), power);
  Exponent = power + 1;
  return digits;
}

std::string FixedText(const std::string& Digits, int Exponent, char Separator) {
  if (Exponent <= 0) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on the chain of operator+.
    std::string text(1, '0');
    text += Separator;
    text.append(static_cast<std::size_t>(-Exponent), '0');
    return text + Digits;
  }
  const auto whole = static_cast<std::size_t>(Exponent);
  if (Digits.size() <= whole) return Digits + std::string(whole - Digits.size(), '0');
  return Digits.substr(0, whole) + Separator + Digits.substr(whole);
}

std::string ScientificText(const std::string& Digits, int Exponent, char Separator) {
  std::string text = Digits.substr(0, 1);
  if (Digits.size() > 1) text += Separator + Digits.substr(1);
  char power[16];
  const auto printed = std::to_chars(power, power + sizeof power, Exponent - 1);
  return text + "E" + std::string(power, printed.ptr);
}

}  // namespace

void ReadLocaleFormatSettings() {
  const std::lconv* conv = std::localeconv();
  char separator = '.';
  // A separator of several bytes (a multi-byte character) cannot be held in one char.
  if (conv != nullptr && conv->decimal_point != nullptr && conv->decimal_point[0] != '\0' &&
      conv->decimal_point[1] == '\0' && UsableSeparator(conv->decimal_point[0]))
    separator = conv->decimal_point[0];
  GDecimalSeparator.store(separator);
}

void InitFormatSettings() {
  std::setlocale(LC_ALL, "");
  ReadLocaleFormatSettings();
}

char DecimalSeparator() { return GDecimalSeparator.load(); }

void SetDecimalSeparator(char Separator) { GDecimalSeparator.store(Separator); }

bool TryStrToInt(const std::string& Text, int& Value) {
  const std::size_t n = Text.size();
  std::size_t i = SkipSpaces(Text, 0);
  const bool negative = TakeSign(Text, i);
  const bool hex = TakeHexPrefix(Text, i, true);
  if (i == n) return false;
  if (hex) {
    std::uint32_t value = 0;
    for (; i < n; ++i) {
      const int digit = HexDigitValue(Text[i]);
      if (digit < 0 || value > 0x0FFFFFFFu) return false;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    Value = static_cast<int>(value);
    return true;
  }
  std::int64_t value = 0;
  for (; i < n; ++i) {
    if (!IsDigit(Text[i]) || value > 214748364) return false;
    value = value * 10 + (Text[i] - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  Value = static_cast<int>(value);
  return true;
}

bool TryStrToInt64(const std::string& Text, std::int64_t& Value) {
  std::uint64_t pattern = 0;
  if (!Parse64(Text, pattern)) return false;
  Value = static_cast<std::int64_t>(pattern);
  return true;
}

bool TryStrToUInt64(const std::string& Text, std::uint64_t& Value) {
  // The signed grammar first, so that every text it accepts keeps its meaning
  // ('-1' is the all-ones pattern); then the decimal texts that only fit unsigned.
  return Parse64(Text, Value) || ParseUnsignedDecimal(Text, Value);
}

bool TryTextToFloat(const std::string& Text, double& Value) {
  const char separator = DecimalSeparator();
  const std::size_t n = Text.size();
  std::size_t i = SkipSpaces(Text, 0);
  const bool negative = TakeSign(Text, i);
  TMantissa mantissa;
  bool anyMantissa = false;
  for (; i < n && IsDigit(Text[i]); ++i, anyMantissa = true) mantissa.Add(Text[i] - '0', false);
  if (i < n && Text[i] == separator) {
    anyMantissa = true;
    for (++i; i < n && IsDigit(Text[i]); ++i) mantissa.Add(Text[i] - '0', true);
  }
  if (!anyMantissa) return false;
  std::int64_t exponent = 0;
  if (i < n && (Text[i] == 'E' || Text[i] == 'e')) {
    ++i;
    const bool negativeExponent = TakeSign(Text, i);
    // The digit that reaches 500 is the last one taken; a digit after it is left over and rejects the text.
    for (; i < n && IsDigit(Text[i]) && exponent < 500; ++i) exponent = exponent * 10 + (Text[i] - '0');
    if (negativeExponent) exponent = -exponent;
  }
  if (SkipSpaces(Text, i) != n) return false;
  return ScaleToDouble(mantissa.Digits, mantissa.Exponent + exponent, negative, Value);
}

std::string IntToStr(std::int64_t Value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
  return std::string(buffer, result.ptr);
}

std::string UIntToStr(std::uint64_t Value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
  return std::string(buffer, result.ptr);
}

std::string FloatToStr(double Value) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  if (Value == 0) return "0";
  int exponent = 0;
  const std::string digits = FifteenDigits(std::fabs(Value), exponent);
  const std::string sign = Value < 0 ? "-" : "";
  const char separator = DecimalSeparator();
  if (exponent >= -3 && exponent <= 15) return sign + FixedText(digits, exponent, separator);
  return sign + ScientificText(digits, exponent, separator);
}
