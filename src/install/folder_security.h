// Who besides the administrators may change a file or folder, read from its
// owner and DACL.
//
// The setup runs elevated, as an administrator or the system account, and
// trusts a name in the file system only where no standard user could have
// put something else there: a link on the way to Lexoria's folder, or the
// folder a rename queued for the restart works in. A right is the trusted
// accounts' alone when the owner is one of them (an owner may always rewrite
// the DACL) and no allowed entry grants it to anybody else.
#ifndef LEXORIA_INSTALL_FOLDER_SECURITY_H_
#define LEXORIA_INSTALL_FOLDER_SECURITY_H_

#include <cstdint>

#include "platform/file_system.h"

namespace lexoria {

// The accounts whose rights never count as someone else's: the system
// (S-1-5-18), the Administrators group (S-1-5-32-544), TrustedInstaller
// (S-1-5-80-956008885-...) and `own_user`, the setup's own account (an
// administrator: the setup refuses to run for anybody else).
bool IsTrustedAccount(const platform::Sid& sid, const platform::Sid& own_user);

// True when someone other than the trusted accounts may exercise one of
// `rights` on the object `security` describes, or may give them to himself:
// an owner outside the trusted accounts, a NULL DACL, or an allowed entry
// that is not inherit-only, for another SID, granting one of `rights`,
// kWriteDac or kWriteOwner (generic rights mapped as for files), or an
// allowed entry of a kind whose grant is not read (callback, object,
// compound entries). Denied
// entries are not weighed: a right that one entry denies and another grants
// counts as granted, which errs on the safe side.
bool OthersMay(const platform::FileSecurity& security, uint32_t rights,
               const platform::Sid& own_user);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_FOLDER_SECURITY_H_
