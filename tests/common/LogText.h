#pragma once
// Helpers for comparing conversion logs: time stamps checked and masked, line ends checked.

#include <cctype>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace varnex_test {

// True for "yyyy-mm-dd hh:nn:ss" with digits where the pattern has letters.
inline bool IsLogTimeStamp(const std::string& Text) {
  static const std::string pattern = "dddd-dd-dd dd:dd:dd";
  if (Text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(Text[i])) != 0;
    if (pattern[i] == 'd' ? !digit : Text[i] != pattern[i]) return false;
  }
  return true;
}

// True when every line of Log ends with CR LF and no CR or LF stands alone.
inline bool HasOnlyCrLfLineEnds(const std::string& Log) {
  for (std::size_t i = 0; i < Log.size(); ++i) {
    if (Log[i] == '\r' && (i + 1 >= Log.size() || Log[i + 1] != '\n')) return false;
    if (Log[i] == '\n' && (i == 0 || Log[i - 1] != '\r')) return false;
  }
  return Log.empty() || Log.back() == '\n';
}

// The lines of Log without their CR LF.
inline std::vector<std::string> LogLines(const std::string& Log) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < Log.size();) {
    const std::size_t end = Log.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(Log.substr(start));
      break;
    }
    lines.push_back(Log.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Log with each valid "Start time: " and "End time: " stamp replaced by "<time>";
// the stamps found are appended to Stamps.
inline std::string MaskLogTimes(const std::string& Log, std::vector<std::string>* Stamps = nullptr) {
  std::string masked;
  for (const std::string& line : LogLines(Log)) {
    std::string out = line;
    for (const std::string prefix : {"Start time: ", "End time: "}) {
      if (line.rfind(prefix, 0) == 0 && IsLogTimeStamp(line.substr(prefix.size()))) {
        if (Stamps) Stamps->push_back(line.substr(prefix.size()));
        out = prefix + "<time>";
      }
    }
    masked += out + "\r\n";
  }
  return masked;
}

// The lines joined, each with CR LF.
inline std::string CrLfLines(std::initializer_list<std::string> Lines) {
  std::string text;
  for (const std::string& line : Lines) text += line + "\r\n";
  return text;
}

}  // namespace varnex_test
