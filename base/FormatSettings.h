#pragma once
// The locale's number format and the number text conversions that use it.
// The conversions never depend on the C library's current locale: they read and
// write the decimal separator held here, so their results are the same whatever
// LC_NUMERIC says.

#include <cstdint>
#include <string>

// Sets the process locale from the environment (setlocale(LC_ALL, "")) and takes the
// decimal separator from it; the program's entry calls this once at start-up.
void InitFormatSettings();
// Takes the decimal separator from the process's current locale, for example after a settings change.
void ReadLocaleFormatSettings();
// The decimal separator that double texts are read and written with ('.' until set).
char DecimalSeparator();
// Replaces the decimal separator.
void SetDecimalSeparator(char Separator);

// Converts Text by the 32-bit integer grammar; false (Value untouched) when it rejects the text.
bool TryStrToInt(const std::string& Text, int& Value);
// Converts Text by the signed 64-bit integer grammar; false (Value untouched) when it rejects the text.
bool TryStrToInt64(const std::string& Text, std::int64_t& Value);
// Converts Text by the 64-bit grammar, also accepting decimal texts up to 18446744073709551615.
bool TryStrToUInt64(const std::string& Text, std::uint64_t& Value);
// Converts Text by the double grammar with the current decimal separator; false when it rejects the text.
bool TryTextToFloat(const std::string& Text, double& Value);

// Value in decimal: a '-' for negative values, no leading zeros, no blanks.
std::string IntToStr(std::int64_t Value);
// Value in decimal without a sign.
std::string UIntToStr(std::uint64_t Value);
// Value in the general format: 15 significant digits, fixed or scientific, with the current separator.
std::string FloatToStr(double Value);
