#include "install/folder_security.h"

#include "platform/processes.h"

namespace lexoria {

namespace {

const platform::Sid kLocalSystemSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const platform::Sid kTrustedInstallerSid = {
    1,    6,    0,    0,    0,    0,    0,    5,    0x50, 0,    0,    0,    0xb5, 0x89, 0xfb, 0x38,
    0x19, 0x84, 0xc2, 0xcb, 0x5c, 0x6c, 0x23, 0x6d, 0x57, 0x00, 0x77, 0x6e, 0xc0, 0x02, 0x64, 0x87};

// The generic rights an entry may carry, as the file system maps them
// (FILE_GENERIC_READ, _WRITE, _EXECUTE, FILE_ALL_ACCESS).
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericExecute = 0x20000000;
constexpr uint32_t kFileGenericRead = 0x00120089;
constexpr uint32_t kFileGenericWrite = 0x00120116;
constexpr uint32_t kFileGenericExecute = 0x001200A0;
constexpr uint32_t kFileAllAccess = 0x001F01FF;

// The allowed kinds whose mask and SID the port does not hand over
// (compound, object, callback and callback object entries): each may grant
// anything to anybody.
bool IsOtherAllowedKind(uint8_t type) { return type == 4 || type == 5 || type == 9 || type == 11; }

uint32_t MapGenericRights(uint32_t mask) {
  if (mask & kGenericRead) mask |= kFileGenericRead;
  if (mask & kGenericWrite) mask |= kFileGenericWrite;
  if (mask & kGenericExecute) mask |= kFileGenericExecute;
  if (mask & platform::kGenericAll) mask |= kFileAllAccess;
  return mask;
}

}  // namespace

bool IsTrustedAccount(const platform::Sid& sid, const platform::Sid& own_user) {
  return !sid.empty() && (sid == kLocalSystemSid || sid == platform::kAdministratorsSid ||
                          sid == kTrustedInstallerSid || sid == own_user);
}

bool OthersMay(const platform::FileSecurity& security, uint32_t rights,
               const platform::Sid& own_user) {
  if (!IsTrustedAccount(security.owner, own_user) || !security.has_dacl) return true;
  const uint32_t wanted = rights | platform::kWriteDac | platform::kWriteOwner;
  for (const platform::AccessControlEntry& entry : security.dacl) {
    // An inherit-only entry is handed down to new children; it grants
    // nothing on this object itself.
    if ((entry.flags & platform::kInheritOnlyAce) != 0) continue;
    if (IsOtherAllowedKind(entry.type)) return true;
    if (entry.type != platform::kAccessAllowedAceType) continue;
    if (IsTrustedAccount(entry.sid, own_user)) continue;
    if ((MapGenericRights(entry.mask) & wanted) != 0) return true;
  }
  return false;
}

}  // namespace lexoria
