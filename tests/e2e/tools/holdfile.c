/* Holds a file open without sharing, as a virus scanner or a backup
   program might, so that the program under test cannot open it.

     holdfile.exe PATH SECONDS

   Prints "held" once the file is open, then keeps it for SECONDS. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: holdfile PATH SECONDS\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "holdfile: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  Sleep((DWORD)atoi(argv[2]) * 1000);
  CloseHandle(file);
  return 0;
}
