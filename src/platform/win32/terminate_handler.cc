// The handler std::terminate calls when an exception escapes or a noexcept
// function throws.
//
// The C++ run-time's default handler prints the escaping exception's type
// name, demangled, to stderr before it aborts. The setup is a GUI program
// without a console, so nobody sees that text, and the demangler behind it is
// the largest single part of the linked run-time (about 46 KB of code and
// tables). Defining the handler here takes the place of the library's: its
// object is never linked, nor the demangler it pulls in. The program ends the
// same way, by abort().
//
// Linked into the setup executable as an object of its own (not through the
// lexoria_win32 library), so that the definition is seen before the run-time
// library is searched.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
