// An INI file held in memory with the Windows profile rules, used by the
// POSIX backend of Profile.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace udra::platform {

class IniFile {
 public:
  explicit IniFile(std::string text);

  // Value of the first matching key in the first matching section; false when
  // missing. Surrounding blanks and one pair of matching quotes are removed.
  bool Get(std::string_view section, std::string_view key, std::string& value) const;
  // Sets (or, with a null value, deletes) a key, keeping every other line.
  void Set(std::string_view section, std::string_view key, const char* value);

  const std::string& text() const { return text_; }

 private:
  struct Line {
    size_t begin, end;  // [begin, end) without the line break
  };
  std::vector<Line> SplitLines() const;
  // Index of the first line of the first matching section's body, or -1.
  long FindSection(const std::vector<Line>& lines, std::string_view section) const;
  std::string_view LineText(const Line& line) const;

  std::string text_;
  std::string newline_;
};

// A read-only view of an INI text, indexed in one pass: a lookup is one hash
// probe instead of a scan of the text, with the answers of IniFile::Get (the
// first section of a name and the first key of a name in it count; names
// compare case-insensitively).
class IniIndex {
 public:
  explicit IniIndex(std::string_view text);

  bool Get(std::string_view section, std::string_view key, std::string& value) const;
  // The key names of the section, first occurrences only, in file order.
  std::vector<std::string> Keys(std::string_view section) const;

 private:
  struct Section {
    std::vector<std::pair<std::string, std::string>> entries;  // name as written, value
    std::unordered_map<std::string, size_t> byName;            // folded name -> entry
  };
  const Section* Find(std::string_view section) const;

  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> sectionByName_;  // folded name -> section
};

}  // namespace udra::platform
