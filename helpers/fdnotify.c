/*
 * fdnotify: watches one descriptor for its parent. Each time the descriptor
 * is readable it sends one notice through a pipe, then waits for a one-byte
 * acknowledgement before it watches again. It never reads the watched
 * descriptor itself.
 *
 *   fdnotify WATCHED NOTICE ACK
 *
 *   WATCHED  inherited descriptor to watch for readability (any number: the
 *            wait uses poll, so descriptors of 1024 and above work too)
 *   NOTICE   pipe descriptor the notices go to
 *   ACK      descriptor the acknowledgements are read from
 *
 * Arguments are read like sockpump's: leading decimal number, trailing text
 * ignored, an argument without digits refused.
 *
 * The notice is a header-only sockpump pipe message with every field zero:
 * 11 zero bytes (id, error, length, pad).
 *
 * "Readable" means what select() means by it: data, end of file, hang-up or a
 * pending error all wake the watcher, since a read would not block.
 *
 * Exit status:
 *   99  bad command line (message on standard output)
 *   0   ACK at end of file: the parent closed it, there is nobody left to
 *       acknowledge, so the watcher ends instead of notifying without pause
 *   1   a descriptor is unusable: WATCHED not open, ACK unreadable, or the
 *       notice pipe cannot be written (a reader that has gone normally ends
 *       the process through SIGPIPE first)
 * SIGINT is ignored.
 */
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

enum { NOTICE_SIZE = 11 };

static long long read_number(char **argv, int index) {
    const char *text = argv[index];
    char *end = NULL;
    long long value = strtoll(text, &end, 10);
    if (end == text) {
        printf("%s: FATAL ERROR: argument %d (\"%s\") is not a decimal number.\n", argv[0], index, text);
        exit(99);
    }
    return value;
}

/* Waits until fd reports one of events; returns its revents. */
static short wait_for(int fd, short events) {
    for (;;) {
        struct pollfd p = {.fd = fd, .events = events};
        int n = poll(&p, 1, -1);
        if (n > 0) return p.revents;
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != ENOMEM) {
            perror("fdnotify: poll");
            exit(1);
        }
    }
}

static void send_notice(int fd) {
    static const unsigned char notice[NOTICE_SIZE] = {0};
    size_t done = 0;
    while (done < sizeof notice) {
        ssize_t n = write(fd, notice + done, sizeof notice - done);
        if (n > 0) {
            done += (size_t)n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            /* The parent's pipe may be non-blocking: a notice dropped here
             * would leave both sides waiting for each other. */
            wait_for(fd, POLLOUT);
        } else {
            perror("fdnotify: notice write");
            exit(1);
        }
    }
}

static void await_ack(int fd) {
    for (;;) {
        unsigned char byte;
        ssize_t n = read(fd, &byte, 1);
        if (n == 1) return;
        if (n == 0) exit(0);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait_for(fd, POLLIN);
            continue;
        }
        perror("fdnotify: acknowledgement read");
        exit(1);
    }
}

int main(int argc, char **argv) {
    if (argc != 4) {
        printf("%s: FATAL ERROR: number of arguments (%d) incorrect.\n", argv[0], argc - 1);
        return 99;
    }
    int watched = (int)read_number(argv, 1);
    int notice_fd = (int)read_number(argv, 2);
    int ack_fd = (int)read_number(argv, 3);
    signal(SIGINT, SIG_IGN);

    for (;;) {
        short revents = wait_for(watched, POLLIN);
        if (revents & POLLNVAL) {
            /* Waiting again would spin for ever on a closed descriptor. */
            fprintf(stderr, "fdnotify: watched descriptor %d is not open\n", watched);
            return 1;
        }
        send_notice(notice_fd);
        await_ack(ack_fd);
    }
}
