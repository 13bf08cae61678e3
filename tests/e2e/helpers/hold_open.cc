// hold_open: keeps a file open the way another program might, so that the
// setup meets a locked file.
//
// Usage: hold_open.exe PATH SECONDS [full]
//   Opens PATH with GENERIC_READ, sharing read and write but not delete
//   (FILE_SHARE_READ | FILE_SHARE_WRITE), or with "full" sharing delete too,
//   as an on-access scanner or an indexer reads a file; prints "held=1" and
//   keeps the handle for SECONDS, then closes it. Exit code: 0 held, 1 not
//   opened (prints "error=N"), 2 usage error.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const bool full = argc == 4 && strcmp(argv[3], "full") == 0;
  if (argc != 3 && !full) {
    fprintf(stderr, "usage: hold_open PATH SECONDS [full]\n");
    return 2;
  }
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (full ? FILE_SHARE_DELETE : 0);
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, share,
                                  /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    printf("error=%lu\n", GetLastError());
    return 1;
  }
  printf("held=1\n");
  fflush(stdout);
  Sleep(static_cast<DWORD>(atoi(argv[2])) * 1000);
  CloseHandle(file);
  return 0;
}
