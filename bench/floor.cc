// bench_floor: the least a program can do to install the package, as the
// yardstick of the setup's end-to-end time. It finds its own resource
// PAK/LXRQ (the same package file the setup carries) and writes it to the
// path given, in one write, and does nothing else: no self-check, no
// registry, no version comparison, no temporary file.
//
//   bench_floor <target path> [copy] [flush]
//
// With "copy" it first copies the resource into a new buffer of its size and
// writes that: what a write from a copy costs (the setup writes from the
// resource itself); with "flush" it also flushes the file
// (FlushFileBuffers) before closing it, as the setup does with every package
// it writes. With either it prints
//   copy_ms=<t> write_ms=<t> flush_ms=<t>
// the time of the copy, the write and the flush alone (0 for a step not
// taken): the shares of the setup's time that the floor leaves out.
//
// Exit code 0 when every byte was written, 1 when the resource or the file
// failed (the cause on stderr), 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
  bool copy = false;
  bool flush = false;
  bool usage = argc < 2;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "copy") == 0 && !copy && !flush) {
      copy = true;
    } else if (std::strcmp(argv[i], "flush") == 0 && !flush) {
      flush = true;
    } else {
      usage = true;
    }
  }
  if (usage) {
    std::fprintf(stderr, "usage: bench_floor <target path> [copy] [flush]\n");
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
  LARGE_INTEGER frequency, copy_began, began, wrote_at, flushed_at;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&copy_began);
  std::unique_ptr<char[]> buffer;
  if (copy) {
    // Fresh memory, as the setup's buffer is: the copy pays for its pages.
    buffer.reset(new char[size]);
    std::memcpy(buffer.get(), bytes, size);
    bytes = buffer.get();
  }
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
  if (copy || flush) {
    const double ms = 1000.0 / static_cast<double>(frequency.QuadPart);
    std::printf("copy_ms=%.1f write_ms=%.1f flush_ms=%.1f\n",
                static_cast<double>(began.QuadPart - copy_began.QuadPart) * ms,
                static_cast<double>(wrote_at.QuadPart - began.QuadPart) * ms,
                static_cast<double>(flushed_at.QuadPart - wrote_at.QuadPart) * ms);
  }
  return 0;
}
