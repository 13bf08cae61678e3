// bench_floor: the least a program can do to install the package, as the
// yardstick of the setup's end-to-end time. It finds its own resource
// PAK/LXRQ (the same package file the setup carries) and writes it to the
// path given, in one write, and does nothing else: no self-check, no
// registry, no version comparison, no temporary file.
//
//   bench_floor <target path>
//
// Exit code 0 when every byte was written, 1 when the resource or the file
// failed (the cause on stderr), 2 on a usage error.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_floor <target path>\n");
    return 2;
  }
  HRSRC found = FindResourceA(/*hModule=*/nullptr, "LXRQ", "PAK");
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) {
    std::fprintf(stderr, "bench_floor: no resource PAK/LXRQ (error %lu)\n", GetLastError());
    return 1;
  }
  const DWORD size = SizeofResource(nullptr, found);
  HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, /*dwShareMode=*/0,
                            /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "bench_floor: cannot create %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, bytes, size, &written, /*lpOverlapped=*/nullptr);
  const DWORD write_error = GetLastError();
  const BOOL closed = CloseHandle(file);
  if (!wrote || written != size || !closed) {
    std::fprintf(stderr, "bench_floor: wrote %lu of %lu bytes to %s (error %lu)\n", written, size,
                 argv[1], write_error);
    return 1;
  }
  return 0;
}
