// Writing a resource of the setup's own module out as a file, with protection
// against replacing a newer installed file by an older one.
#ifndef LEXORIA_INSTALL_EXTRACT_H_
#define LEXORIA_INSTALL_EXTRACT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/services.h"

namespace lexoria {

// What became of the file a write was asked for.
enum class WriteResult {
  kWritten,    // the content is in place
  kScheduled,  // the content is written beside the target, and replaces it
               // when Windows restarts: another program holds the target
  kKept,       // the user chose to keep the newer installed file
  kFailed,     // the error box was shown; the target is not the new content
};

// What a replacement does when the installed file is held by another
// program (a sharing violation, a lock, a mapped view, or access denied to
// a file that is not read-only).
enum class HeldTarget {
  kFail,                      // fail at once
  kWaitForRelease,            // a program was asked to quit and may still be closing:
                              // try again every 250 ms for up to 15 s, then fail
  kReplaceAtRestart,          // nobody to tell: have Windows replace it at its next
                              // restart, at once
  kWaitThenReplaceAtRestart,  // both: wait as kWaitForRelease, then have it
                              // replaced at the restart
};

// Where the one copy of the content comes from. Not std::pmr: its library
// code would add some 10 KB to the setup for two allocations.
class BufferMemory {
 public:
  virtual ~BufferMemory() = default;
  // `size` bytes, or nullptr when there is no memory for them.
  virtual uint8_t* Allocate(size_t size) = 0;
  // REQUIRES: `block` came from Allocate of this object.
  virtual void Free(uint8_t* block) = 0;
};

// The process heap (operator new[] that returns nullptr when it fails).
BufferMemory& HeapMemory();

// Writes the resource `name` of type `type` (matched without regard to case)
// to `target_path`. Main thread only; blocks in the question box.
//
// With `check` set and a file (not a directory) at `target_path` whose type
// is "pak", "3bs", "cok", "lng" or "exe", the content goes first to
// MakeTempFileName(target_path); the versions of that file (new) and of the
// target (installed) are compared; when the new one is older the progress
// window is hidden and the user asked, and only Yes goes on. The temporary
// file then replaces the target in one step, so that a failure leaves the
// installed file as it was. After a question the progress window is shown
// again with empty texts, unless the replacement failed. Any other case
// writes the target directly.
//
// The folder of `target_path` is pinned for the whole write (PinnedFolder):
// opened as a folder, following links, and held, so that neither it nor a
// folder above can be renamed or removed meanwhile; every file operation goes
// under its final path, and a folder that cannot be pinned fails the write.
// A file is only ever written when this call created it: whatever stands
// at the name of the temporary file or of an absent target (a file, or a
// link a user planted to another file) is opened as itself, checked to be
// that name in that folder, and removed through its handle, and the file is
// created new; a replacement renames the held temporary file over the
// target, so that a link there is replaced, never written through. With
// `held` kWaitForRelease, a replacement refused because another program
// holds the target (see HeldTarget) is tried again until it goes through or
// 15 s have passed.
//
// When the target is still held by another program after that (held
// kReplaceAtRestart or kWaitThenReplaceAtRestart), the complete new content
// stays as the "~" file and Windows is asked to rename it over the target
// at its next restart (MOVEFILE_DELAY_UNTIL_REBOOT): kScheduled, no box. The
// record of the run names the programs that hold the target, as far as the
// Restart Manager tells them, whenever a replacement is refused for a hold.
//
// Every failure of the write itself (memory, a missing resource, the folder,
// create, write, replace) shows one error box "Can't install file " +
// target_path (Russian: "Не удается установить файл " + target_path) and
// gives kFailed. A direct write that fails removes its partial file, and so
// does a failed replacement its "~" file: nothing is left behind for
// nothing. After No, the "~" file is deleted, nothing is shown, and the
// result is kKept. Showing the progress window again comes after the file is
// settled and outside that handling: a failure there is not the file's and
// leaves as an exception. The content buffer comes from `memory`.
WriteResult ExtractResourceToFile(Services& s, const std::string& name, const std::string& type,
                                  const std::string& target_path, bool check,
                                  HeldTarget held = HeldTarget::kFail,
                                  BufferMemory& memory = HeapMemory());

// Writes the resources `name` + "1" and `name` + "2" of type `type`, the
// first directly followed by the second, to `target_path`, with no version
// check and no temporary file: kWritten, or kFailed after the error box as
// for ExtractResourceToFile. Never raises.
WriteResult JoinResourcesToFile(Services& s, const std::string& name, const std::string& type,
                                const std::string& target_path,
                                BufferMemory& memory = HeapMemory());

// `path` with "~" inserted behind its last backslash, the last character
// itself not examined, or in front of it when there is none. Examples:
// "D:\Data\lxrq.pak" gives "D:\Data\~lxrq.pak", "lxrq.pak" gives
// "~lxrq.pak", "D:\a\" gives "D:\~a\", and "" gives "~".
std::string MakeTempFileName(const std::string& path);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_EXTRACT_H_
