#include "platform/posix/IniFile.h"

namespace udra::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The section name of a "[name]" line, or false when the line is no header.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.find(']');
  name = Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  return true;
}

// Splits "key=value"; false for comments and lines without '='.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return false;
  const size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(trimmed.substr(0, eq));
  value = Trim(trimmed.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return true;
}

// ASCII letters lower-cased, every other byte kept (GBK names included).
std::string Fold(std::string_view s) {
  std::string folded(s);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return folded;
}

}  // namespace

IniIndex::IniIndex(std::string_view text) {
  Section* current = nullptr;  // null before the first header and in a repeated section
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(begin, end - begin);  // Trim drops a '\r'
    begin = end + 1;
    std::string_view name, key, value;
    if (SectionName(line, name)) {
      current = nullptr;
      if (sectionByName_.emplace(Fold(name), sections_.size()).second) {
        sections_.emplace_back();
        current = &sections_.back();
      }
    } else if (current && KeyValue(line, key, value)) {
      if (current->byName.emplace(Fold(key), current->entries.size()).second)
        current->entries.emplace_back(std::string(key), std::string(value));
    }
  }
}

const IniIndex::Section* IniIndex::Find(std::string_view section) const {
  const auto it = sectionByName_.find(Fold(Trim(section)));
  return it == sectionByName_.end() ? nullptr : &sections_[it->second];
}

bool IniIndex::Get(std::string_view section, std::string_view key, std::string& value) const {
  const Section* found = Find(section);
  if (!found) return false;
  const auto it = found->byName.find(Fold(Trim(key)));
  if (it == found->byName.end()) return false;
  value = found->entries[it->second].second;
  return true;
}

std::vector<std::string> IniIndex::Keys(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* found = Find(section))
    for (const auto& entry : found->entries) names.push_back(entry.first);
  return names;
}

IniFile::IniFile(std::string text) : text_(std::move(text)) {
  newline_ = text_.find("\r\n") != std::string::npos ? "\r\n" : "\n";
}

std::vector<IniFile::Line> IniFile::SplitLines() const {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < text_.size()) {
    size_t end = text_.find('\n', begin);
    if (end == std::string::npos) end = text_.size();
    size_t stop = end;
    if (stop > begin && text_[stop - 1] == '\r') --stop;
    lines.push_back({begin, stop});
    begin = end + 1;
  }
  return lines;
}

std::string_view IniFile::LineText(const Line& line) const {
  return std::string_view(text_).substr(line.begin, line.end - line.begin);
}

long IniFile::FindSection(const std::vector<Line>& lines, std::string_view section) const {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(LineText(lines[i]), name) && EqualNoCase(name, Trim(section))) return long(i + 1);
  }
  return -1;
}

bool IniFile::Get(std::string_view section, std::string_view key, std::string& value) const {
  const std::vector<Line> lines = SplitLines();
  const long first = FindSection(lines, section);
  if (first < 0) return false;
  for (size_t i = size_t(first); i < lines.size(); ++i) {
    std::string_view name, k, v;
    if (SectionName(LineText(lines[i]), name)) break;
    if (KeyValue(LineText(lines[i]), k, v) && EqualNoCase(k, Trim(key))) {
      value.assign(v);
      return true;
    }
  }
  return false;
}

void IniFile::Set(std::string_view section, std::string_view key, const char* value) {
  const std::vector<Line> lines = SplitLines();
  const std::string entry = std::string(Trim(key)) + "=" + (value ? value : "");
  const long first = FindSection(lines, section);
  if (first < 0) {
    if (!value) return;
    if (!text_.empty() && text_.back() != '\n') text_ += newline_;
    text_ += "[" + std::string(Trim(section)) + "]" + newline_ + entry + newline_;
    return;
  }
  size_t insertAt = first > 0 ? lines[size_t(first) - 1].end : 0;  // after the header
  for (size_t i = size_t(first); i < lines.size(); ++i) {
    std::string_view name, k, v;
    const std::string_view text = LineText(lines[i]);
    if (SectionName(text, name)) break;
    if (KeyValue(text, k, v) && EqualNoCase(k, Trim(key))) {
      if (value) {
        text_.replace(lines[i].begin, lines[i].end - lines[i].begin, entry);
      } else {
        size_t end = lines[i].end;
        if (end < text_.size() && text_[end] == '\r') ++end;
        if (end < text_.size() && text_[end] == '\n') ++end;
        text_.erase(lines[i].begin, end - lines[i].begin);
      }
      return;
    }
    if (!Trim(text).empty()) insertAt = lines[i].end;
  }
  if (!value) return;
  text_.insert(insertAt, newline_ + entry);
  if (insertAt + newline_.size() + entry.size() == text_.size()) text_ += newline_;
}

}  // namespace udra::platform
