/* The floor the figures are measured against: a minimal C server and a
 * minimal C client on loopback, doing what the driver does with the least
 * code that can do it.
 *
 *   floor serve PORT                      answers "Q?" with a number,
 *                                         "LIST n" with n values (made once),
 *                                         an empty line with an empty line;
 *                                         "SINK n" then takes n bytes and
 *                                         answers "1"
 *   floor rtt HOST PORT N                 median microseconds of N one-byte
 *                                         round trips: the kernel's loopback
 *   floor query HOST PORT N [TEXT]        median microseconds of N queries
 *   floor list HOST PORT VALUES ROUNDS [TEXT]
 *                                         median milliseconds of a list read
 *                                         and its parse (an integer loop)
 *   floor read HOST PORT VALUES ROUNDS [TEXT]
 *                                         the same without the parse
 *   floor upload HOST PORT BYTES [CHUNK]  MiB/s of BYTES in CHUNK-byte writes
 *                                         (default 16 KiB)
 *   floor parse VALUES ROUNDS             MB/s of a strtod loop over a list
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

static int cmp(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static double median(double* v, int n) {
  qsort(v, (size_t)n, sizeof *v, cmp);
  return v[n / 2];
}

static char* make_list(long n, size_t* len) {
  char* s = malloc((size_t)n * 8 + 2);
  size_t p = 0;
  for (long i = 0; i < n; ++i) p += (size_t)sprintf(s + p, i ? ",%ld" : "%ld", (i % 2 ? -1 : 1) * (1234 + (i * 37) % 9000));
  s[p++] = '\n';
  *len = p;
  return s;
}

/* Whole numbers in hundredths, as the unit sends a list: what the driver's parse must approach. */
static long parse_integers(const char* p, const char* end, double* out) {
  long k = 0;
  while (p < end && *p != '\n') {
    const int negative = *p == '-';
    p += negative;
    long v = 0;
    while (p < end && *p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
    out[k++] = (double)(negative ? -v : v) / 100;
    if (p < end && *p == ',') ++p;
  }
  return k;
}

static int send_all(int fd, const char* p, size_t n) {
  while (n) {
    ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return -1;
    p += w;
    n -= (size_t)w;
  }
  return 0;
}

static void* serve_client(void* arg) {
  int fd = (int)(long)arg;
  static char buf[1 << 16];
  char line[256];
  size_t have = 0;
  for (;;) {
    ssize_t r = recv(fd, line + have, sizeof line - have - 1, 0);
    if (r <= 0) break;
    have += (size_t)r;
    char* lf;
    while ((lf = memchr(line, '\n', have))) {
      *lf = 0;
      if (line[0] == 0) {
        send_all(fd, "\n", 1);
      } else if (strcmp(line, "Q?") == 0) {
        send_all(fd, "2400000000\n", 11);
      } else if (strncmp(line, "LIST ", 5) == 0) {
        /* made once per size: the floor measures the transfer, not the making */
        static __thread char* list = NULL;
        static __thread long made = -1;
        static __thread size_t len = 0;
        if (atol(line + 5) != made) {
          free(list);
          made = atol(line + 5);
          list = make_list(made, &len);
        }
        send_all(fd, list, len);
      } else if (strncmp(line, "SINK ", 5) == 0) {
        long left = atol(line + 5);
        size_t rest = have - (size_t)(lf + 1 - line);
        left -= (long)rest;
        while (left > 0) {
          ssize_t g = recv(fd, buf, sizeof buf, 0);
          if (g <= 0) return NULL;
          left -= g;
        }
        send_all(fd, "1\n", 2);
        have = 0;
        break;
      }
      size_t used = (size_t)(lf + 1 - line);
      memmove(line, lf + 1, have - used);
      have -= used;
    }
  }
  close(fd);
  return NULL;
}

static int connect_to(const char* host, int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0), one = 1;
  struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons((unsigned short)port)};
  inet_pton(AF_INET, host, &a.sin_addr);
  if (connect(fd, (struct sockaddr*)&a, sizeof a) != 0) {
    perror("connect");
    exit(1);
  }
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

/* Reads to the line feed that ends an answer. */
static size_t read_answer(int fd, char* buf, size_t cap) {
  size_t n = 0;
  for (;;) {
    ssize_t r = recv(fd, buf + n, cap - n, 0);
    if (r <= 0) exit(1);
    n += (size_t)r;
    if (buf[n - 1] == '\n') return n;
  }
}

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "serve") == 0) {
    int s = socket(AF_INET, SOCK_STREAM, 0), one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons((unsigned short)atoi(argv[2]))};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, (struct sockaddr*)&a, sizeof a) != 0 || listen(s, 16) != 0) {
      perror("floor serve");
      return 1;
    }
    for (;;) {
      int c = accept(s, NULL, NULL);
      if (c < 0) continue;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      pthread_t t;
      pthread_create(&t, NULL, serve_client, (void*)(long)c);
      pthread_detach(t);
    }
  }
  if (argc >= 5 && (strcmp(argv[1], "query") == 0 || strcmp(argv[1], "rtt") == 0)) {
    int fd = connect_to(argv[2], atoi(argv[3])), n = atoi(argv[4]);
    char q[256];
    const int rtt = strcmp(argv[1], "rtt") == 0;
    int qlen = snprintf(q, sizeof q, "%s\n", rtt ? "" : argc >= 6 ? argv[5] : "Q?");
    double* t = malloc(sizeof(double) * (size_t)n);
    char buf[256];
    for (int i = 0; i < n; ++i) {
      double s = now();
      send_all(fd, q, (size_t)qlen);
      read_answer(fd, buf, sizeof buf);
      t[i] = (now() - s) * 1e6;
    }
    printf("%.3f\n", median(t, n));
    return 0;
  }
  if (argc >= 6 && (strcmp(argv[1], "list") == 0 || strcmp(argv[1], "read") == 0)) {
    const int parse = strcmp(argv[1], "list") == 0;
    int fd = connect_to(argv[2], atoi(argv[3])), rounds = atoi(argv[5]);
    long values = atol(argv[4]);
    size_t cap = (size_t)values * 8 + 64;
    char* buf = malloc(cap);
    double* out = malloc(sizeof(double) * (size_t)values);
    double* t = malloc(sizeof(double) * (size_t)rounds);
    char cmd[64];
    int len = argc >= 7 ? snprintf(cmd, sizeof cmd, "%s\n", argv[6]) : snprintf(cmd, sizeof cmd, "LIST %ld\n", values);
    for (int i = 0; i < rounds; ++i) {
      double s = now();
      send_all(fd, cmd, (size_t)len);
      size_t got = read_answer(fd, buf, cap);
      long k = parse ? parse_integers(buf, buf + got, out) : values;
      t[i] = (now() - s) * 1e3;
      if (k != values) {
        fprintf(stderr, "floor list: %ld values came, not %ld\n", k, values);
        return 1;
      }
    }
    printf("%.4f\n", median(t, rounds));
    return 0;
  }
  if (argc >= 5 && strcmp(argv[1], "upload") == 0) {
    long bytes = atol(argv[4]);
    const size_t size = argc >= 6 ? (size_t)atol(argv[5]) : 16384;
    char* chunk = malloc(size);
    memset(chunk, 'f', size);
    double rates[5];
    for (int round = 0; round < 5; ++round) {
      int fd = connect_to(argv[2], atoi(argv[3]));
      char cmd[64], buf[16];
      int len = snprintf(cmd, sizeof cmd, "SINK %ld\n", bytes);
      double s = now();
      send_all(fd, cmd, (size_t)len);
      for (long left = bytes; left > 0; left -= (long)size)
        send_all(fd, chunk, left < (long)size ? (size_t)left : size);
      read_answer(fd, buf, sizeof buf);
      rates[round] = bytes / 1048576.0 / (now() - s);
      close(fd);
    }
    printf("%.1f\n", median(rates, 5));
    return 0;
  }
  if (argc >= 4 && strcmp(argv[1], "parse") == 0) {
    size_t len;
    long values = atol(argv[2]);
    int rounds = atoi(argv[3]);
    char* list = make_list(values, &len);
    double* out = malloc(sizeof(double) * (size_t)values);
    double* t = malloc(sizeof(double) * (size_t)rounds);
    for (int i = 0; i < rounds; ++i) {
      double s = now();
      char* p = list;
      for (long k = 0; k < values; ++k) {
        out[k] = strtod(p, &p) / 100;
        ++p;
      }
      t[i] = now() - s;
    }
    printf("%.1f\n", len / 1e6 / median(t, rounds));
    return 0;
  }
  fprintf(stderr, "usage: floor serve PORT | rtt HOST PORT N | query HOST PORT N [TEXT] | list HOST PORT VALUES ROUNDS [TEXT] "
          "| read ... | upload HOST PORT BYTES [CHUNK] | parse VALUES ROUNDS\n");
  return 2;
}
