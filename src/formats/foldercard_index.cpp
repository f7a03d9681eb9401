#include "formats/foldercard_index.h"

#include <cctype>
#include <set>

#include "formats/save.h"

namespace travosk::formats::folderindex {

namespace {

// An index names the files of one save folder: a few hundred at most on any
// card. Far more is no index the emulator wrote.
constexpr size_t kMostRecords = 70000;
constexpr size_t kLongestKey = 1024;

class Reader {
 public:
  Reader(std::string_view text, const std::string& source) : text_(text), source_(source) {}

  std::vector<Record> ReadAll() {
    SkipBlank(true);
    if (!AtEnd() && Peek() == '{') {
      ++at_;
      ReadFlowMap([&](std::string key) {
        SkipBlank(true);
        Expect('{', "a map of the entry's values");
        Record r{std::move(key), {}};
        ReadFlowMap([&](std::string name) { Put(r, std::move(name), ReadInteger()); });
        Add(std::move(r));
      });
      SkipBlank(true);
      if (!AtEnd()) Fail("text after the index's map");
      return std::move(records_);
    }
    ReadBlock();
    return std::move(records_);
  }

 private:
  std::string_view text_;
  const std::string& source_;
  size_t at_ = 0;
  std::vector<Record> records_;
  std::set<std::string> keys_;

  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return text_[at_]; }

  [[noreturn]] void Fail(const std::string& what) const {
    size_t line = 1;
    for (size_t i = 0; i < at_ && i < text_.size(); ++i) line += text_[i] == '\n';
    throw FormatError("\"" + source_ + "\" is a damaged folder card index (line " +
                      std::to_string(line) + ": " + what + ")");
  }

  void Expect(char c, const char* what) {
    if (AtEnd() || Peek() != c) Fail(std::string("expected ") + what);
    ++at_;
  }

  // Spaces and tabs; with `lines`, also line ends and whole comment lines.
  void SkipBlank(bool lines) {
    while (!AtEnd()) {
      const char c = Peek();
      if (c == ' ' || c == '\t' || c == '\r' || (lines && c == '\n')) {
        ++at_;
      } else if (c == '#') {
        while (!AtEnd() && Peek() != '\n') ++at_;
      } else {
        return;
      }
    }
  }

  void Add(Record r) {
    if (records_.size() >= kMostRecords) Fail("more entries than a card holds");
    if (!keys_.insert(r.key).second) Fail("\"" + r.key + "\" is given twice");
    records_.push_back(std::move(r));
  }

  void Put(Record& r, std::string name, int64_t value) {
    if (!r.values.emplace(std::move(name), value).second) Fail("a value is given twice");
  }

  std::string ReadKey(bool flow) {
    std::string key;
    if (AtEnd()) Fail("expected a name");
    const char quote = Peek();
    if (quote == '\'' || quote == '"') {
      ++at_;
      while (true) {
        if (AtEnd() || Peek() == '\n') Fail("a quoted name does not end");
        char c = text_[at_++];
        if (c == quote) {
          if (quote == '\'' && !AtEnd() && Peek() == '\'') {
            ++at_;
          } else {
            break;
          }
        } else if (quote == '"' && c == '\\') {
          if (AtEnd() || (Peek() != '\\' && Peek() != '"')) Fail("an escape this index never holds");
          c = text_[at_++];
        }
        key += c;
        if (key.size() > kLongestKey) Fail("a name longer than any file's");
      }
      SkipBlank(false);
      Expect(':', "':' after a name");
      return key;
    }
    // A plain name runs to the ':' that a space, a line end or (in a flow
    // map) a bracket follows.
    while (true) {
      if (AtEnd() || Peek() == '\n') Fail("expected ':' after a name");
      const char c = text_[at_++];
      if (c == ':') {
        const char next = AtEnd() ? '\n' : Peek();
        if (next == ' ' || next == '\t' || next == '\n' || next == '\r' ||
            (flow && (next == '{' || next == ',' || next == '}')))
          break;
      }
      if (flow && (c == ',' || c == '{' || c == '}')) Fail("a bracket inside a name");
      key += c;
      if (key.size() > kLongestKey) Fail("a name longer than any file's");
    }
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    if (key.empty()) Fail("an empty name");
    return key;
  }

  int64_t ReadInteger() {
    SkipBlank(false);
    bool negative = false;
    if (!AtEnd() && (Peek() == '-' || Peek() == '+')) negative = text_[at_++] == '-';
    uint64_t value = 0;
    size_t digits = 0;
    while (!AtEnd() && std::isdigit(static_cast<unsigned char>(Peek()))) {
      if (++digits > 18) Fail("a number out of range");
      value = value * 10 + static_cast<uint64_t>(Peek() - '0');
      ++at_;
    }
    if (digits == 0) Fail("expected a whole number");
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  }

  // After the '{': "key: value" pairs separated by commas up to the '}'.
  template <typename Entry>
  void ReadFlowMap(Entry entry) {
    SkipBlank(true);
    if (!AtEnd() && Peek() == '}') {
      ++at_;
      return;
    }
    while (true) {
      SkipBlank(true);
      entry(ReadKey(true));
      SkipBlank(true);
      if (AtEnd()) Fail("a map does not end");
      const char c = text_[at_++];
      if (c == '}') return;
      if (c != ',') Fail("expected ',' or '}'");
    }
  }

  void EndOfLine() {
    SkipBlank(false);
    if (!AtEnd() && Peek() != '\n') Fail("text after a value");
  }

  void ReadBlock() {
    while (true) {
      SkipBlank(true);
      if (AtEnd()) return;
      // A document marker may open the text.
      if (text_.substr(at_, 3) == "---" && records_.empty()) {
        at_ += 3;
        continue;
      }
      const size_t line_start = text_.rfind('\n', at_ == 0 ? 0 : at_ - 1);
      const size_t indent = at_ - (line_start == std::string_view::npos ? 0 : line_start + 1);
      if (indent != 0) Fail("an entry's value without its entry");
      Record r{ReadKey(false), {}};
      SkipBlank(false);
      if (!AtEnd() && Peek() == '{') {
        ++at_;
        ReadFlowMap([&](std::string name) { Put(r, std::move(name), ReadInteger()); });
        EndOfLine();
      } else {
        EndOfLine();
        // The entry's values: the indented lines that follow.
        while (true) {
          SkipBlank(true);
          if (AtEnd()) break;
          const size_t nl = text_.rfind('\n', at_ - 1);
          if (at_ - (nl == std::string_view::npos ? 0 : nl + 1) == 0) break;
          std::string name = ReadKey(false);
          const int64_t value = ReadInteger();
          Put(r, std::move(name), value);
          EndOfLine();
        }
      }
      Add(std::move(r));
    }
  }
};

bool PlainKey(const std::string& key) {
  if (key.empty()) return false;
  const auto first = static_cast<unsigned char>(key[0]);
  if (!std::isalnum(first) && first != '_' && first != '$' && first != '.') return false;
  for (const char ch : key) {
    const auto c = static_cast<unsigned char>(ch);
    if (!std::isalnum(c) && c != '_' && c != '$' && c != '.' && c != '-' && c != '+') return false;
  }
  return true;
}

}  // namespace

std::optional<int64_t> Record::Get(std::string_view name) const {
  const auto it = values.find(std::string(name));
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::vector<Record> Parse(std::string_view text, const std::string& source) {
  for (const char c : text)
    if (c == '\0') throw FormatError("\"" + source + "\" is a damaged folder card index (a NUL byte)");
  return Reader(text, source).ReadAll();
}

std::string Write(const std::vector<Record>& records) {
  std::string out;
  for (const auto& r : records) {
    if (PlainKey(r.key)) {
      out += r.key;
    } else {
      out += '\'';
      for (const char c : r.key) out += c == '\'' ? std::string("''") : std::string(1, c);
      out += '\'';
    }
    out += ":\n";
    // The emulator writes a file's order first, then its times.
    for (const char* name : {"order", "timeCreated", "timeModified"})
      if (const auto v = r.Get(name)) out += std::string("  ") + name + ": " + std::to_string(*v) + "\n";
  }
  return out;
}

}  // namespace travosk::formats::folderindex
