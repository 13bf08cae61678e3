// Identification of the running Windows edition, and the one fact start-up
// keeps from it: whether Windows is 64-bit.
#ifndef LEXORIA_SYSTEM_WINDOWS_VERSION_H_
#define LEXORIA_SYSTEM_WINDOWS_VERSION_H_

#include <string>

#include "base/setup_context.h"
#include "platform/platform.h"
#include "system/random_generator.h"

namespace lexoria {

// Names the running Windows edition in one line: the edition name, then a
// blank and the service-pack text when that text holds more than blanks and
// control characters. Sets ctx.Is64BitWindows to whether the line contains
// " 64" (so " 64-bit" on Vista and later x64; the "x64" of XP and Server 2003
// x64 does not count). When the identification fails, returns "unknown" and
// leaves Is64BitWindows untouched. Reports nothing; never raises.
// `random` names the temporary file of the "ver" probe.
std::string IdentifyWindows(SetupContext& ctx, platform::Platform& os, RandomGenerator& random);

// Builds the edition name and the service-pack text from the version query,
// the native processor architecture, system metrics, a few registry values
// under HKEY_LOCAL_MACHINE and, where the version query cannot tell releases
// apart (6.2, and majors other than 3, 4, 5, 6 and 10), the output of "ver".
// False (outputs untouched) when both version queries fail or the platform is
// neither 9x (1) nor NT (2). Every key it opens is closed before it returns.
bool QueryWindowsEdition(platform::Platform& os, RandomGenerator& random, std::string* edition,
                         std::string* service_pack);

// Runs `command` through the system's command interpreter (hidden, without
// the user's AutoRun commands) and returns its output: each line followed by
// "\r\n", converted whole from the OEM to the ANSI code page. The output goes
// to a file of eight random letters in "Temp" that the setup creates itself,
// new and never through a link (another name where one is taken, at most 16
// names), and hands to the interpreter as its standard output and error
// through an inherited handle; the command line names no file. The
// interpreter is "ComSpec" when that names cmd.exe in the system directory
// (letter case aside), else that cmd.exe; it is passed as the application
// name, never searched for. The empty text when "ComSpec" is unset, empty or
// 260 characters or longer, or the system directory is unknown (nothing is
// run). "\r\n" when the output is empty or cannot be read, when "Temp" holds
// a double quote or a percent sign or no file can be made there (nothing is
// run), and when the interpreter has not ended after 10 seconds (it is
// terminated). At most the first 64 KiB are read. The file is gone and every
// handle closed once the interpreter and the call have ended.
std::string CaptureCommandOutput(platform::Platform& os, RandomGenerator& random,
                                 const std::string& command);

}  // namespace lexoria

#endif  // LEXORIA_SYSTEM_WINDOWS_VERSION_H_
