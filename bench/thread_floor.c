/* The thread floor: the least a chat must do, as a statically linked C program. It reads standard
   input to the end, starts one thread that writes one line, and joins it. What a chat costs beyond
   that is what condensing and answering the request costs. */
#include <pthread.h>
#include <stdio.h>
#include <unistd.h>

static void* answer(void* unused) {
  (void)unused;
  fputs(
      "{\"content\":\"Group the rows by month, then add a sum of "
      "sales.\",\"finishReason\":\"stop\"}\n",
      stdout);
  fflush(stdout);
  return NULL;
}

int main(void) {
  static char buffer[1 << 16];
  while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  pthread_t thread;
  if (pthread_create(&thread, NULL, answer, NULL) != 0) return 1;
  return pthread_join(thread, NULL) != 0;
}
