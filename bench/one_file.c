/* The yardstick for a run of ostrel on one file: what a C program does at
 * the least to report a JPEG file's size, as dynamically linked as a
 * distribution's programs are: open it, read its first 16 KiB, ask its
 * status, close it, and print one line.
 *
 *   one_file FILE
 */
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  static unsigned char head[16 * 1024];
  if (argc != 2) {
    fputs("usage: one_file FILE\n", stderr);
    return 2;
  }
  int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    printf("%s;can't open file\n", argv[1]);
    return 0;
  }
  ssize_t got = read(fd, head, sizeof head);
  struct stat st;
  int stated = fstat(fd, &st);
  close(fd);
  if (got < 4 || stated != 0) {
    printf("%s:can't find marker\n", argv[1]);
    return 0;
  }
  printf("%s %d %d\n", argv[1], head[2], head[3]);
  return 0;
}
