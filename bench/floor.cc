// bench_floor: the least a program can do to install the package, as the
// yardstick of the setup's end-to-end time. It finds its own resource
// PAK/LXRQ (the same package file the setup carries) and writes it to the
// path given, in one write, and does nothing else: no self-check, no
// registry, no version comparison, no temporary file.
//
//   bench_floor <target path> [flush]
//
// With "flush" it also flushes the file (FlushFileBuffers) before closing it,
// as the setup does with every package it writes, and prints
//   write_ms=<t> flush_ms=<t>
// the time of the write and of the flush alone.
//
// Exit code 0 when every byte was written, 1 when the resource or the file
// failed (the cause on stderr), 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const bool flush = argc == 3 && std::strcmp(argv[2], "flush") == 0;
  if (argc != 2 && !flush) {
    std::fprintf(stderr, "usage: bench_floor <target path> [flush]\n");
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
  LARGE_INTEGER frequency, began, wrote_at, flushed_at;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&began);
  DWORD written = 0;
  BOOL wrote = WriteFile(file, bytes, size, &written, /*lpOverlapped=*/nullptr);
  DWORD write_error = GetLastError();
  QueryPerformanceCounter(&wrote_at);
  if (flush && wrote) {
    wrote = FlushFileBuffers(file);
    write_error = GetLastError();
  }
  QueryPerformanceCounter(&flushed_at);
  const BOOL closed = CloseHandle(file);
  if (!wrote || written != size || !closed) {
    std::fprintf(stderr, "bench_floor: wrote %lu of %lu bytes to %s (error %lu)\n", written, size,
                 argv[1], write_error);
    return 1;
  }
  if (flush) {
    const double ms = 1000.0 / static_cast<double>(frequency.QuadPart);
    std::printf("write_ms=%.1f flush_ms=%.1f\n",
                static_cast<double>(wrote_at.QuadPart - began.QuadPart) * ms,
                static_cast<double>(flushed_at.QuadPart - wrote_at.QuadPart) * ms);
  }
  return 0;
}
