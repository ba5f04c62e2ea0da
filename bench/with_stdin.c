/* Starts a program with a file as its standard input: with_stdin FILE PROGRAM [ARGUMENT...].
   hyperfine (Debian's 1.15) gives the programs it times no standard input and has no option for
   one; a shell could redirect it, but its start-up costs more than the program under test and
   subtracting it is too noisy at this scale. This launcher only opens the file and replaces
   itself with the program, and the floor it is compared with is started through it too. */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: with_stdin FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 127;
  }
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) {
    perror(argv[1]);
    return 127;
  }
  if (fd != STDIN_FILENO) close(fd);
  execv(argv[2], argv + 2);
  perror(argv[2]);
  return 127;
}
