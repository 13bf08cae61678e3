#include "ui/lang_unit.h"

#include <exception>
#include <iterator>
#include <utility>

#include "ui/messages.h"

namespace lexoria {

namespace {

// Bytes per ReadFile call: language files are small, and the reader only
// ever looks one byte ahead (for the LF after a CR).
constexpr uint32_t kReadChunk = 4096;
constexpr char kEndOfFileMark = 0x1A;
constexpr char kLineBreak[] = "\r\n";
constexpr char kLanguageFolder[] = "language\\";

bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string TrimSpacesAndControls(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpaceOrControl(text[begin])) ++begin;
  while (end > begin && IsSpaceOrControl(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string LowerAsciiLetters(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsValidIndex(const LangUnit& lang, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < lang.LanguageFileNames.size();
}

// The entry of LanguageFileNames at `index`, as the error box names it; an
// index outside the list names no file.
std::string FileNameAt(const LangUnit& lang, int32_t index) {
  return IsValidIndex(lang, index) ? lang.LanguageFileNames[static_cast<size_t>(index)]
                                   : std::string();
}

// The full path of the language file at `index`; empty for an index outside
// the list, which TextFile::Reset then refuses like a file it cannot open.
std::string FilePathAt(const Services& s, int32_t index) {
  if (!IsValidIndex(s.lang, index)) return {};
  return s.ctx.InstallDir + kLanguageFolder + FileNameAt(s.lang, index);
}

int32_t FallbackIndex(const Services& s) {
  return s.ctx.RussianUi ? s.lang.FallbackLanguageIndexRu : s.lang.FallbackLanguageIndexEn;
}

// The section search: reopens `file` at its start and returns the line after
// the first header naming `key`, or the empty text when there is none. The
// file stays open, positioned after the value line. Raises TextFileError.
std::string SearchSection(TextFile& file, const std::string& key) {
  file.Reset();
  while (!file.Eof()) {
    const std::string line = file.ReadLine();
    if (HeaderNamesKey(line, key)) return file.ReadLine();
  }
  return {};
}

// Appends each line of `file` followed by "\r\n" up to the first blank line
// (which is consumed) or the end of the file. Raises TextFileError.
void CollectFollowingLines(TextFile& file, std::string& text) {
  while (!file.Eof()) {
    const std::string line = file.ReadLine();
    if (IsBlankLine(line)) break;
    text += line;
    text += kLineBreak;
  }
}

void DropFinalLineBreak(std::string& text) {
  if (!text.empty()) text.resize(text.size() - (sizeof(kLineBreak) - 1));
}

struct SearchOutcome {
  std::string value;
  bool failed = false;  // the file could not be opened or read (reported)
};

SearchOutcome SearchFallback(Services& s, const std::string& key) {
  LangUnit& lang = s.lang;
  const int32_t index = FallbackIndex(s);
  lang.FallbackLanguageFile.Assign(s.os.files, FilePathAt(s, index));
  SearchOutcome outcome;
  try {
    outcome.value = SearchSection(lang.FallbackLanguageFile, key);
  } catch (const std::exception&) {
    // Out of memory on an endless line counts as a file that cannot be read:
    // the look-ups promise never to raise.
    ReportLanguageFileError(s, FileNameAt(lang, index));
    outcome.failed = true;
    return outcome;
  }
  // A multi-line look-up is under way when the flag is set: it goes on
  // reading the lines after the value, so the file stays open for it.
  if (lang.MultiLinePending) {
    lang.MultiLinePending = false;
  } else {
    lang.FallbackLanguageFile.Close();
  }
  return outcome;
}

SearchOutcome FallbackText(Services& s, const std::string& key, bool drop_first_line) {
  LangUnit& lang = s.lang;
  lang.MultiLinePending = true;
  const SearchOutcome found = SearchFallback(s, key);
  SearchOutcome outcome;
  outcome.failed = found.failed;
  std::string text = drop_first_line ? std::string() : found.value + kLineBreak;
  // After a failed search the file has nothing more to give, and reading on
  // would only report the same failure a second time.
  if (!found.failed) {
    try {
      CollectFollowingLines(lang.FallbackLanguageFile, text);
    } catch (const std::exception&) {
      ReportLanguageFileError(s, FileNameAt(lang, FallbackIndex(s)));
      lang.FallbackLanguageFile.Close();
      outcome.value = std::move(text);
      return outcome;
    }
  }
  lang.FallbackLanguageFile.Close();
  DropFinalLineBreak(text);
  outcome.value = std::move(text);
  return outcome;
}

// LookupLanguageString, also telling whether the search in the current file
// failed, which LookupLanguageText needs to know.
SearchOutcome LookupCurrentThenFallback(Services& s, const std::string& key) {
  LangUnit& lang = s.lang;
  const int32_t index = s.ctx.LanguageIndex;
  // Binding anew at every look-up follows LanguageIndex should its owner
  // change it, and closes the handle of the previous look-up.
  lang.CurrentLanguageFile.Assign(s.os.files, FilePathAt(s, index));
  SearchOutcome outcome;
  try {
    outcome.value = SearchSection(lang.CurrentLanguageFile, key);
  } catch (const std::exception&) {
    ReportLanguageFileError(s, FileNameAt(lang, index));
    outcome.failed = true;
    return outcome;
  }
  if (!outcome.value.empty()) return outcome;
  outcome.value = lang.MultiLinePending ? FallbackText(s, key, /*drop_first_line=*/false).value
                                        : LookupFallbackString(s, key);
  return outcome;
}

// Replaces every `placeholder` in `text` by `replacement`, scanning on after
// each replacement so that the replacement's own text is left alone.
void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& replacement) {
  size_t at = text.find(placeholder);
  while (at != std::string::npos) {
    text.replace(at, placeholder.size(), replacement);
    at = text.find(placeholder, at + replacement.size());
  }
}

}  // namespace

TextFile::~TextFile() { Close(); }

void TextFile::Assign(platform::FileSystem& files, const std::string& path) {
  Close();
  files_ = &files;
  path_ = path;
}

void TextFile::Reset() {
  Close();
  if (files_ == nullptr || path_.empty()) throw TextFileError("No language file is bound");
  handle_ = files_->CreateFileA(path_, platform::kGenericRead, platform::kFileShareRead,
                                platform::kOpenExisting, platform::kFileAttributeNormal);
  if (handle_ == platform::kInvalidHandleValue) throw TextFileError("Cannot open " + path_);
}

bool TextFile::Fill() {
  if (ended_) return false;
  if (position_ >= buffer_.size()) {
    buffer_.resize(kReadChunk);
    uint32_t read = 0;
    if (!files_->ReadFile(handle_, buffer_.data(), kReadChunk, &read)) {
      buffer_.clear();
      position_ = 0;
      throw TextFileError("Cannot read " + path_);
    }
    buffer_.resize(read);
    position_ = 0;
    if (read == 0) {
      ended_ = true;
      return false;
    }
  }
  // Nothing after the end-of-file mark is ever read.
  if (buffer_[position_] == kEndOfFileMark) {
    ended_ = true;
    return false;
  }
  return true;
}

std::string TextFile::ReadLine() {
  if (!IsOpen()) throw TextFileError("File not open: " + path_);
  std::string line;
  while (Fill()) {
    const char c = buffer_[position_++];
    if (c == '\n') return line;
    if (c == '\r') {
      if (Fill() && buffer_[position_] == '\n') {
        ++position_;
        return line;
      }
      continue;  // a lone CR separates nothing and is dropped
    }
    line += c;
  }
  return line;
}

bool TextFile::Eof() {
  if (!IsOpen()) throw TextFileError("File not open: " + path_);
  return !Fill();
}

void TextFile::Close() {
  if (IsOpen()) files_->CloseHandle(handle_);
  handle_ = platform::kInvalidHandleValue;
  buffer_.clear();
  position_ = 0;
  ended_ = false;
}

bool HeaderNamesKey(const std::string& line, const std::string& key) {
  // The first character is tested before trimming, so a line with blanks
  // before its "[" is no header.
  if (line.empty() || line[0] != '[') return false;
  const std::string header = LowerAsciiLetters(TrimSpacesAndControls(line));
  const std::string wanted = LowerAsciiLetters(key) + "]";
  return header.compare(1, wanted.size(), wanted) == 0;
}

bool IsBlankLine(const std::string& line) { return TrimSpacesAndControls(line).empty(); }

std::string LookupLanguageString(Services& s, const std::string& key) {
  return LookupCurrentThenFallback(s, key).value;
}

std::string LookupLanguageText(Services& s, const std::string& key, bool drop_first_line) {
  LangUnit& lang = s.lang;
  lang.MultiLinePending = true;
  const SearchOutcome found = LookupCurrentThenFallback(s, key);
  std::string text = found.value + kLineBreak;
  // Still set means the text did not come from a completed fallback search:
  // the rest of the value is read on from the current file.
  if (lang.MultiLinePending) {
    if (drop_first_line) text.clear();
    // A failed search in the current file has been reported already; the
    // continuation would only fail and report it again.
    if (!found.failed) {
      try {
        CollectFollowingLines(lang.CurrentLanguageFile, text);
      } catch (const std::exception&) {
        ReportLanguageFileError(s, FileNameAt(lang, s.ctx.LanguageIndex));
        return text;
      }
    }
  }
  DropFinalLineBreak(text);
  return text;
}

std::string FormatLanguageText(Services& s, const std::string& key,
                               const std::vector<std::string>& arguments, bool drop_first_line) {
  std::string text = LookupLanguageText(s, key, drop_first_line);
  static constexpr const char* kPlaceholders[] = {"%1", "%2", "%3", "%4"};
  for (size_t i = 0; i < std::size(kPlaceholders); ++i) {
    if (text.find(kPlaceholders[i]) == std::string::npos) break;
    // A placeholder beyond the arguments supplied stays as it is, and so do
    // the later ones, which have no argument either.
    if (i >= arguments.size()) break;
    ReplaceAll(text, kPlaceholders[i], arguments[i]);
  }
  return text;
}

std::string LookupFallbackString(Services& s, const std::string& key) {
  return SearchFallback(s, key).value;
}

std::string LookupFallbackText(Services& s, const std::string& key, bool drop_first_line) {
  return FallbackText(s, key, drop_first_line).value;
}

void ReportLanguageFileError(Services& s, const std::string& file_name) {
  ShowFileError(s, "Can't handle the language support file ",
                "Не удаётся работать с файлом языковой поддержки ", file_name);
}

}  // namespace lexoria
