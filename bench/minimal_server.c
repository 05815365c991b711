/*
 * minimal_server.c: the floor for one thread on this kernel, for bench/run.sh.
 *
 * Usage: minimal_server ADDRESS PORT [URL_PATH FILE]...
 *
 * One thread, one epoll set. It accepts connections, reads what arrives, finds the end of each
 * request head (an empty line), and answers each head with a precomputed answer: the file given
 * for its path, or relaydash's /health answer for any other path. All the answers to the heads
 * one read brought go out in one write. A head that says "Connection: close" is answered and
 * its connection closed. Request bodies are not supported; nothing is logged. Loopback
 * benchmarking only: it trusts its peer.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

enum { kBufferSize = 16384, kMaxAnswers = 64, kMaxFiles = 8, kMaxEvents = 256 };

struct answer {
  const char* path; /* NULL: every other path */
  char* bytes;
  size_t size;
};

struct connection {
  int fd;
  size_t used;   /* bytes of buf not yet answered */
  char* pending; /* answer bytes the kernel did not take */
  size_t pending_size;
  int close_after;
  char buf[kBufferSize];
};

static struct answer answers[kMaxFiles + 1];
static int answer_count;

static void die(const char* what) {
  perror(what);
  exit(1);
}

static const char* type_of(const char* path) {
  const char* dot = strrchr(path, '.');
  if (!dot) return "application/octet-stream";
  if (!strcmp(dot, ".js")) return "application/javascript";
  if (!strcmp(dot, ".css")) return "text/css";
  if (!strcmp(dot, ".html")) return "text/html";
  if (!strcmp(dot, ".json")) return "application/json";
  if (!strcmp(dot, ".svg")) return "image/svg+xml";
  return "application/octet-stream";
}

static void add_answer(const char* path, const char* type, const char* body, size_t body_size) {
  char head[256];
  int head_size = snprintf(head, sizeof head,
                           "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n\r\n",
                           type, body_size);
  struct answer* a = &answers[answer_count++];
  a->path = path;
  a->size = (size_t)head_size + body_size;
  a->bytes = malloc(a->size);
  if (!a->bytes) die("malloc");
  memcpy(a->bytes, head, (size_t)head_size);
  memcpy(a->bytes + head_size, body, body_size);
}

static void add_file(const char* path, const char* file) {
  int fd = open(file, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) die(file);
  char* body = malloc((size_t)st.st_size + 1);
  if (!body || read(fd, body, (size_t)st.st_size) != st.st_size) die(file);
  close(fd);
  add_answer(path, type_of(file), body, (size_t)st.st_size);
  free(body);
}

/* The answer for a request head: the one whose path follows the method and a blank. */
static const struct answer* answer_for(const char* head, size_t size) {
  const char* space = memchr(head, ' ', size);
  if (space) {
    size_t rest = size - (size_t)(space + 1 - head);
    for (int i = 0; i < answer_count; ++i) {
      const char* path = answers[i].path;
      size_t length = path ? strlen(path) : 0;
      if (path && rest > length && !memcmp(space + 1, path, length) && space[1 + length] == ' ')
        return &answers[i];
    }
  }
  return &answers[answer_count - 1];
}

static int says_close(const char* head, size_t size) {
  static const char kHeader[] = "\r\nconnection: close";
  size_t n = sizeof kHeader - 1;
  for (size_t i = 0; i + n <= size; ++i) {
    if (head[i] == '\r' && !strncasecmp(head + i, kHeader, n)) return 1;
  }
  return 0;
}

static void drop(struct connection* c) {
  close(c->fd); /* which takes it out of the epoll set */
  free(c->pending);
  free(c);
}

/* Sends the pieces; keeps what the kernel did not take. 0 when the connection is gone. */
static int send_all(int epoll, struct connection* c, struct iovec* pieces, int count) {
  struct msghdr message = {.msg_iov = pieces, .msg_iovlen = (size_t)count};
  size_t total = 0;
  for (int i = 0; i < count; ++i)
    total += pieces[i].iov_len;
  ssize_t sent = sendmsg(c->fd, &message, MSG_NOSIGNAL);
  if (sent < 0) {
    if (errno != EAGAIN) return 0;
    sent = 0;
  }
  if ((size_t)sent == total) return 1;
  size_t left = total - (size_t)sent;
  char* rest = malloc(c->pending_size + left);
  if (!rest) die("malloc");
  memcpy(rest, c->pending, c->pending_size);
  size_t at = c->pending_size, skip = (size_t)sent;
  for (int i = 0; i < count; ++i) {
    size_t length = pieces[i].iov_len;
    if (skip >= length) {
      skip -= length;
      continue;
    }
    memcpy(rest + at, (char*)pieces[i].iov_base + skip, length - skip);
    at += length - skip;
    skip = 0;
  }
  free(c->pending);
  c->pending = rest;
  c->pending_size = at;
  struct epoll_event event = {.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP, .data.ptr = c};
  epoll_ctl(epoll, EPOLL_CTL_MOD, c->fd, &event);
  return 1;
}

/* Reads once (the epoll set is level-triggered: what is left is reported again) and answers
 * every complete head with one write. 0 when the connection is to go. */
static int on_readable(int epoll, struct connection* c) {
  ssize_t n = recv(c->fd, c->buf + c->used, kBufferSize - c->used, 0);
  if (n == 0) return 0;
  if (n < 0) return errno == EAGAIN;
  c->used += (size_t)n;
  struct iovec pieces[kMaxAnswers];
  int count = 0;
  size_t start = 0;
  for (;;) {
    char* end = memmem(c->buf + start, c->used - start, "\r\n\r\n", 4);
    if (!end) break;
    size_t size = (size_t)(end + 4 - (c->buf + start));
    const struct answer* a = answer_for(c->buf + start, size);
    pieces[count].iov_base = a->bytes;
    pieces[count].iov_len = a->size;
    c->close_after |= says_close(c->buf + start, size);
    start += size;
    if (++count == kMaxAnswers || c->close_after) break;
  }
  memmove(c->buf, c->buf + start, c->used - start);
  c->used -= start;
  if (count > 0) {
    if (c->pending) return 0; /* a client that does not read its answers: not ours to serve */
    if (!send_all(epoll, c, pieces, count)) return 0;
    if (c->close_after) return c->pending != NULL;
  }
  return c->used < kBufferSize; /* a head larger than the buffer ends the connection */
}

static int on_writable(int epoll, struct connection* c) {
  if (!c->pending) return 1;
  ssize_t sent = send(c->fd, c->pending, c->pending_size, MSG_NOSIGNAL);
  if (sent < 0) return errno == EAGAIN;
  memmove(c->pending, c->pending + sent, c->pending_size - (size_t)sent);
  c->pending_size -= (size_t)sent;
  if (c->pending_size > 0) return 1;
  free(c->pending);
  c->pending = NULL;
  if (c->close_after) return 0;
  struct epoll_event event = {.events = EPOLLIN | EPOLLRDHUP, .data.ptr = c};
  epoll_ctl(epoll, EPOLL_CTL_MOD, c->fd, &event);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    fprintf(stderr, "usage: %s ADDRESS PORT [URL_PATH FILE]...\n", argv[0]);
    return 2;
  }
  for (int i = 3; i + 1 < argc && answer_count < kMaxFiles; i += 2)
    add_file(argv[i], argv[i + 1]);
  static const char kHealth[] = "{\"kit\":\"1.4.2\"}";
  add_answer(NULL, "application/json", kHealth, sizeof kHealth - 1);

  int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(listener, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  struct sockaddr_in address = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(argv[2]))};
  if (inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) die("address");
  if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0) die("bind");
  if (listen(listener, 4096) != 0) die("listen");

  int epoll = epoll_create1(EPOLL_CLOEXEC);
  /* Level-triggered, as every descriptor here: one accept per report, none that finds nothing. */
  struct epoll_event event = {.events = EPOLLIN, .data.ptr = NULL};
  epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);

  struct epoll_event events[kMaxEvents];
  for (;;) {
    int n = epoll_wait(epoll, events, kMaxEvents, -1);
    for (int i = 0; i < n; ++i) {
      struct connection* c = events[i].data.ptr;
      if (!c) {
        int fd = accept4(listener, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) continue;
        c = calloc(1, sizeof *c);
        if (!c) die("calloc");
        c->fd = fd;
        struct epoll_event e = {.events = EPOLLIN | EPOLLRDHUP, .data.ptr = c};
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &e);
        continue;
      }
      int keep = 1;
      if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
        keep = on_readable(epoll, c);
      if (keep && (events[i].events & EPOLLOUT)) keep = on_writable(epoll, c);
      if (!keep) drop(c);
    }
  }
}
