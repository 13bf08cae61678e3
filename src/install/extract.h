// Writing a resource of the setup's own module out as a file, with protection
// against replacing a newer installed file by an older one.
#ifndef LEXORIA_INSTALL_EXTRACT_H_
#define LEXORIA_INSTALL_EXTRACT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/services.h"
#include "install/pinned_folder.h"

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

// Where the one copy of a joined content comes from. Not std::pmr: its library
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
// into `folder` as the file named by the last part of `target_path`, which
// is that file's path as the caller knows it (InstallDir + the name), for
// the message. Main thread only; blocks in the question box.
// REQUIRES: the folder part of `target_path` is the folder `folder` pinned.
//
// The content always goes first to MakeTempFileName of the name, a NewFile:
// created new with its own security, written, flushed and held by its one
// handle until it takes the target's name or is removed, so that a run cut
// short at any moment leaves no file at the name, or the old one, or the new
// one whole. The content is written from the resource where the module's
// image holds it, never from a copy. With `check` set, a file (not a folder) at the target and the
// type "pak", "3bs", "cok", "lng" or "exe", the version of the new content
// (read from the bytes it is written from) and of the installed file are
// compared first; when the new one is older the progress window is hidden
// and the user asked, and only Yes goes on. The new file then takes the
// target's name in one step (over the installed file, or, where there is
// none, only if the name is still free), so that a failure leaves the
// installed file as it was. After a question the progress window is shown
// again with empty texts, unless the replacement failed.
//
// With `held` kWaitForRelease or kWaitThenReplaceAtRestart, a replacement
// refused because another program holds the target (see HeldTarget) is
// tried again until it goes through, it fails for another reason, or 15 s
// have passed. When the target is still held then (held kReplaceAtRestart or
// kWaitThenReplaceAtRestart), and nobody but the trusted accounts may change
// the folder or remove a folder above it (PinnedFolder::OthersMayChange), the
// complete new content stays as the "~" file and Windows is asked to rename
// it over the target at its next restart (MOVEFILE_DELAY_UNTIL_REBOOT), once:
// a run that finds the same rename already queued adds nothing. Result
// kScheduled, no box. Where others may change the folder, the rename would
// be resolved by names they choose: the write fails as any held target does,
// and the record says why. The record names the programs that hold the
// target, as far as the Restart Manager tells them, whenever a replacement
// is refused for a hold.
//
// Every failure of the write itself (memory, a missing resource, create,
// write, replace) shows one error box "Can't install file " + target_path
// (Russian: "Не удается установить файл " + target_path) and gives kFailed;
// the "~" file is removed. After No, the "~" file is removed, nothing is
// shown, and the result is kKept. Showing the progress window again comes
// after the file is settled and outside that handling: a failure there is
// not the file's and leaves as an exception.
// `*version`, when given, becomes the version of the type's field
// the target holds once a queued rename is done: the new content's after
// kWritten and kScheduled, the installed file's after kKept, -1 otherwise
// (and for a type without a numeric version).
//
// A replacement an earlier run queued for the restart (its rename in
// PendingFileRenameOperations) survives this run: its "~" file is kept as
// it is where it holds this content byte for byte (else written again under
// that name); where the target can be replaced now, it is, and the queued
// rename finds nothing to move; where it is still held, the "~" file stays
// whatever the outcome (kScheduled where nobody can be told, else the error
// box and kFailed), nothing is queued a second time, and `*version` is the
// new content's.
WriteResult ExtractResourceToFile(Services& s, const PinnedFolder& folder, const std::string& name,
                                  const std::string& type, const std::string& target_path,
                                  bool check, HeldTarget held = HeldTarget::kFail,
                                  int32_t* version = nullptr);

// Writes the resources `name` + "1" and `name` + "2" of type `type`, the
// first directly followed by the second, into `folder` as the last part of
// `target_path`, with no version check and no question, through a NewFile
// as ExtractResourceToFile writes: kWritten, or kFailed after the error box
// as there, from one copy of both in a buffer from `memory`. `*version`,
// when given, becomes the "pak" version of the joined content after
// kWritten, else -1. Never raises.
WriteResult JoinResourcesToFile(Services& s, const PinnedFolder& folder, const std::string& name,
                                const std::string& type, const std::string& target_path,
                                int32_t* version = nullptr, BufferMemory& memory = HeapMemory());

// `path` with "~" inserted behind its last backslash, the last character
// itself not examined, or in front of it when there is none. Examples:
// "D:\Data\lxrq.pak" gives "D:\Data\~lxrq.pak", "lxrq.pak" gives
// "~lxrq.pak", "D:\a\" gives "D:\~a\", and "" gives "~".
std::string MakeTempFileName(const std::string& path);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_EXTRACT_H_
