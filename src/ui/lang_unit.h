// LangUnit: texts looked up by key in the language-support files under
// InstallDir + "language\".
//
// File format: 8-bit text taken as bytes. Lines end in LF or CR LF; a CR not
// followed by LF is dropped from its line; a byte 0x1A ends the file. A line
// starting with "[" is a section header; it names key K when the line,
// trimmed of spaces and control characters and with A-Z lowered, holds K
// followed by "]" from its second character on. The value of K is the line
// right after the first header naming K; a multi-line value runs on to the
// first blank line or the end of the file.
#ifndef LEXORIA_UI_LANG_UNIT_H_
#define LEXORIA_UI_LANG_UNIT_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/services.h"
#include "platform/file_system.h"

namespace lexoria {

// Raised by TextFile when its file cannot be opened or read.
class TextFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text file read line by line through the FileSystem port, opened for
// reading with other readers allowed (GENERIC_READ, FILE_SHARE_READ). It
// owns its handle: the handle is closed by Close, by a new Assign or Reset,
// and by the destructor. Main thread only.
class TextFile {
 public:
  TextFile() = default;
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Binds the file to `path`, closing a handle that is open. Does not open.
  // REQUIRES: `files` outlives this object (or the next Assign).
  void Assign(platform::FileSystem& files, const std::string& path);
  // Opens the bound file at its start, closing it first when it is open.
  // Raises TextFileError when it cannot be opened (or nothing is bound).
  void Reset();
  // The next line, without its separator; the empty text at the end of the
  // file. Raises TextFileError on a read failure or when the file is not open.
  std::string ReadLine();
  // True when no line is left: no byte remains before the end or a 0x1A.
  // May read ahead; raises TextFileError as ReadLine does.
  bool Eof();
  // Closes the handle when one is open; the binding stays.
  void Close();

  bool IsOpen() const { return handle_ != platform::kInvalidHandleValue; }
  const std::string& path() const { return path_; }

 private:
  // Makes sure a byte is buffered unless the end has been reached; returns
  // false at the end (the physical end or a 0x1A).
  bool Fill();

  platform::FileSystem* files_ = nullptr;
  std::string path_;
  platform::Handle handle_ = platform::kInvalidHandleValue;
  std::vector<char> buffer_;
  size_t position_ = 0;
  bool ended_ = false;
};

// True when a line is a section header naming `key` (see the file format
// above); `key` is compared with A-Z lowered.
bool HeaderNamesKey(const std::string& line, const std::string& key);
// True when a line is empty after removing spaces and control characters
// from both ends.
bool IsBlankLine(const std::string& line);

// The process-wide look-up state. Main thread only. The owner sets
// LanguageFileNames and the fallback indexes, and every index it uses must be
// a valid position in LanguageFileNames before SetupContext::LanguageIndex is
// set to 0 or above; an index outside the list is handled as a file that
// cannot be opened.
class LangUnit {
 public:
  LangUnit() = default;
  std::vector<std::string> LanguageFileNames;
  int32_t FallbackLanguageIndexRu = -1;
  int32_t FallbackLanguageIndexEn = -1;
  bool MultiLinePending = true;
  // The file at LanguageIndex; each look-up binds and reopens it from its
  // start, and it stays open between look-ups until the process ends.
  TextFile CurrentLanguageFile;
  // The fallback file chosen by RussianUi; bound anew at every fallback
  // look-up.
  TextFile FallbackLanguageFile;
};

// The single-line value of `key` in the current language file; when that
// value is empty, the value from the fallback file (multi-line while
// MultiLinePending is set). Never raises: a failure to open or read the
// current file is reported with ReportLanguageFileError and gives the empty
// text without trying the fallback file.
std::string LookupLanguageString(Services& s, const std::string& key);
// The multi-line value of `key`: the value line and every following line up
// to the first blank one, joined by "\r\n". With `drop_first_line` the value
// line itself is left out when the text comes from the current file. Never
// raises; failures are reported and give the text collected so far.
std::string LookupLanguageText(Services& s, const std::string& key, bool drop_first_line);
// LookupLanguageText with "%1", then "%2", "%3", "%4" replaced by `arguments`
// in turn; the chain stops at the first placeholder the text does not hold,
// and a placeholder with no argument supplied stays as it is.
std::string FormatLanguageText(Services& s, const std::string& key,
                               const std::vector<std::string>& arguments, bool drop_first_line);
// The single-line value of `key` in the fallback file alone (index
// FallbackLanguageIndexRu when RussianUi is set, else FallbackLanguageIndexEn).
// When the search completes and MultiLinePending is set, clears it and leaves
// the file open after the value line; otherwise closes the file. A failure is
// reported, gives the empty text and leaves MultiLinePending as it was.
std::string LookupFallbackString(Services& s, const std::string& key);
// The multi-line value of `key` in the fallback file alone: sets
// MultiLinePending, takes LookupFallbackString and the lines after it up to
// the first blank one, then closes the file. With `drop_first_line` the value
// line is left out. (LookupLanguageString always asks with it clear, so a text
// that falls back keeps its value line.) A failed search gives the empty text
// and its continuation is skipped, so the failure is reported once; a failed
// continuation is reported and gives the text collected so far, with its
// final "\r\n".
std::string LookupFallbackText(Services& s, const std::string& key, bool drop_first_line);
// The error box for a language-support file: "Can't handle the language
// support file " + `file_name` (and its Russian text).
void ReportLanguageFileError(Services& s, const std::string& file_name);

}  // namespace lexoria

#endif  // LEXORIA_UI_LANG_UNIT_H_
