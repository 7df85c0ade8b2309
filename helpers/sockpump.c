/*
 * sockpump: owns the receiving side of one RFC 1006 (ISO transport over TCP)
 * connection for its parent and forwards every received TPKT frame through a
 * pipe.
 *
 *   sockpump ID SOCKET CONNECT MAXLEN PIPE ADDR PORT
 *
 *   ID       identifier copied into every message (signed 32-bit)
 *   SOCKET   inherited socket descriptor to receive from
 *   CONNECT  1: connect SOCKET to ADDR:PORT first; anything else: already connected
 *   MAXLEN   largest TPKT frame accepted, header included (low 16 bits)
 *   PIPE     inherited pipe descriptor the messages go to
 *   ADDR     IPv4 address: the 32-bit value as stored in sin_addr (network
 *            byte order in memory), read as a signed integer in host order
 *   PORT     TCP port in host order (low 16 bits); 0 means 102
 *
 * Each argument is read as a decimal number (leading blanks and sign allowed,
 * trailing text ignored); an argument without any digits is refused like a
 * wrong argument count.
 *
 * Pipe message, fields in host byte order:
 *
 *   0       4      8      10            10+len
 *   +-------+------+------+-------------+-----+
 *   | id    | err  | len  | TPKT frame  | pad |
 *   +-------+------+------+-------------+-----+
 *     int32  int32  uint16  len bytes     1 byte (0)
 *
 *   connect status  first, only with CONNECT 1: err = 0 or errno, len = 0
 *   frame           one per whole frame: err = 0, len = frame length
 *   end of stream   last: len = 0 (not sent after a failed connect)
 *
 * Exit status: 99 bad command line (nothing sent), 95 connect failed,
 * 1 end of stream for any reason (peer closed, receive error, malformed
 * header, SIGUSR1). SIGINT is ignored. A header is malformed when its version
 * is not 3 or its length is below the 4 header bytes themselves or above
 * MAXLEN; a MAXLEN below 4 therefore ends the stream at the first frame.
 *
 * Every message reaches the pipe whole and in order: the stop signal only
 * sets a flag and the main flow sends the end message between messages, and
 * short writes are completed. Whole messages that are ready together may share
 * one write as long as that write stays within PIPE_BUF, so a write that was
 * atomic for a pipe with several writers stays atomic; a message larger than
 * PIPE_BUF always goes alone.
 */
#define _GNU_SOURCE /* ppoll (POSIX.1-2024) */

#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

enum {
    MSG_HEADER = 10,               /* id, error, length */
    MSG_OVERHEAD = MSG_HEADER + 1, /* plus the pad byte */
    TPKT_HEADER = 4,               /* RFC 1006: version, reserved, length (big-endian) */
    TPKT_VERSION = 3,
    RFC1006_PORT = 102,
    FRAME_LIMIT = 0xFFFF, /* a 16-bit length field cannot say more */
    /* Receive buffer: large reads keep the system calls per frame low; it
     * always holds at least one frame of the largest possible length. */
    RX_CAP = 128 * 1024,
    /* Largest write that carries more than one message. Writes up to
     * PIPE_BUF are atomic (POSIX), so messages from other writers of the
     * same pipe (other sockpumps, fdnotify) never land inside ours. Raising
     * it saves system calls but gives up that guarantee. */
    WRITE_BATCH = PIPE_BUF,
    TX_CAP = FRAME_LIMIT + MSG_OVERHEAD > WRITE_BATCH ? FRAME_LIMIT + MSG_OVERHEAD : WRITE_BATCH,
};

/* Static storage: no allocation that could fail after the parent is
 * already waiting for a message. */
static unsigned char rx_buf[RX_CAP];
static unsigned char tx_buf[TX_CAP];
static size_t tx_len;

static int pipe_to_main = -1;
static int32_t msg_id;
static int32_t msg_error;

static volatile sig_atomic_t stop_requested;

static void on_recv_sigusr1(int sig) {
    (void)sig;
    stop_requested = 1;
}

/* Reads the leading decimal number of argv[index]; refuses text without
 * digits. */
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

/* Writes all of data to the pipe. Signals that could interrupt it are blocked
 * while this runs; a non-blocking pipe is waited on until it takes the rest.
 * A pipe that cannot be written any more ends the process. */
static void write_all(const unsigned char *data, size_t len) {
    while (len > 0) {
        ssize_t n = write(pipe_to_main, data, len);
        if (n > 0) {
            data += n;
            len -= (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p = {.fd = pipe_to_main, .events = POLLOUT};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) exit(1);
            continue;
        }
        /* Reader gone (with SIGPIPE ignored by the parent) or descriptor bad:
         * nobody can hear the end message either. */
        exit(1);
    }
}

static void flush_messages(void) {
    write_all(tx_buf, tx_len);
    tx_len = 0;
}

static void put_header(unsigned char *at, uint16_t length) {
    memcpy(at, &msg_id, 4);
    memcpy(at + 4, &msg_error, 4);
    memcpy(at + 8, &length, 2);
}

/* Queues one frame message; flushes first when the batch would outgrow one
 * atomic pipe write. */
static void queue_frame(const unsigned char *frame, uint16_t length) {
    size_t size = (size_t)length + MSG_OVERHEAD;
    if (tx_len > 0 && tx_len + size > WRITE_BATCH) flush_messages();
    unsigned char *msg = tx_buf + tx_len;
    put_header(msg, length);
    memcpy(msg + MSG_HEADER, frame, length);
    msg[MSG_HEADER + length] = 0;
    tx_len += size;
    if (tx_len >= WRITE_BATCH) flush_messages();
}

/* Sends the header-only message (connect status or end of stream). */
static void send_empty_message(void) {
    unsigned char msg[MSG_OVERHEAD] = {0};
    put_header(msg, 0);
    write_all(msg, sizeof msg);
}

static void end_of_stream(void) {
    flush_messages();
    send_empty_message();
    close(pipe_to_main);
    exit(1);
}

/* Connects sock; returns 0 or the error number. Runs with the stop signal
 * unblocked: a stop before the connection is made fails it with EINTR. A
 * socket the parent made non-blocking is waited on until the connect has an
 * outcome, rather than reported as failed with EINPROGRESS. */
static int connect_socket(int sock, const struct sockaddr_in *sin) {
    if (stop_requested) return EINTR;
    if (connect(sock, (const struct sockaddr *)sin, sizeof *sin) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    for (;;) {
        struct pollfd p = {.fd = sock, .events = POLLOUT};
        int n = poll(&p, 1, -1);
        if (stop_requested) return EINTR;
        if (n > 0) break;
        if (n < 0 && errno != EINTR) return errno;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

int main(int argc, char **argv) {
    if (argc != 8) {
        printf("%s: FATAL ERROR: number of arguments (%d) incorrect.\n", argv[0], argc - 1);
        return 99;
    }

    /* SIGUSR1 stays blocked except while waiting for the socket, so the stop
     * request is taken between messages and never inside a write. It is
     * blocked before anything else so that an early request is kept pending
     * rather than killing the process. */
    sigset_t stop_set, run_mask, wait_mask;
    sigemptyset(&stop_set);
    sigaddset(&stop_set, SIGUSR1);
    sigprocmask(SIG_BLOCK, &stop_set, &run_mask); /* the inherited mask */
    sigaddset(&run_mask, SIGUSR1);
    wait_mask = run_mask;
    sigdelset(&wait_mask, SIGUSR1);

    signal(SIGINT, SIG_IGN);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_recv_sigusr1;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; /* no SA_RESTART: a blocked connect returns with EINTR */
    sigaction(SIGUSR1, &sa, NULL);

    msg_id = (int32_t)(uint32_t)read_number(argv, 1);
    int sock = (int)read_number(argv, 2);
    int connect_flag = (int)read_number(argv, 3);
    uint16_t max_len = (uint16_t)read_number(argv, 4);
    pipe_to_main = (int)read_number(argv, 5);
    uint32_t addr = (uint32_t)read_number(argv, 6);
    uint16_t port = (uint16_t)read_number(argv, 7);

    if (connect_flag == 1) {
        struct sockaddr_in sin;
        memset(&sin, 0, sizeof sin);
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port != 0 ? port : RFC1006_PORT);
        memcpy(&sin.sin_addr.s_addr, &addr, 4); /* already in network order */

        /* The stop signal may interrupt a slow connect; that connect has then
         * not succeeded and is reported as failed (EINTR). */
        sigprocmask(SIG_SETMASK, &wait_mask, NULL);
        int err = connect_socket(sock, &sin);
        sigprocmask(SIG_SETMASK, &run_mask, NULL);

        msg_error = err;
        send_empty_message();
        if (err != 0) {
            close(pipe_to_main);
            return 95;
        }
    }

    /* Frame loop. rx_buf[start, have) holds received bytes not yet forwarded;
     * every whole frame in it is forwarded before the next wait. */
    size_t start = 0, have = 0;
    for (;;) {
        while (have - start >= TPKT_HEADER) {
            const unsigned char *frame = rx_buf + start;
            unsigned length = (unsigned)frame[2] << 8 | frame[3];
            /* A length below the header's own size would put the next
             * header inside this one: the stream is out of step. */
            if (frame[0] != TPKT_VERSION || length < TPKT_HEADER || length > max_len) end_of_stream();
            if (have - start < length) break;
            queue_frame(frame, (uint16_t)length);
            start += length;
        }
        flush_messages();
        if (start > 0) {
            memmove(rx_buf, rx_buf + start, have - start);
            have -= start;
            start = 0;
        }

        if (stop_requested) end_of_stream();
        struct pollfd p = {.fd = sock, .events = POLLIN};
        if (ppoll(&p, 1, NULL, &wait_mask) < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOMEM) continue;
            end_of_stream();
        }
        /* Non-blocking receive: the socket's own mode belongs to the parent,
         * and the readiness just seen must never turn into a blocked wait
         * with the stop signal held off. */
        ssize_t n = recv(sock, rx_buf + have, RX_CAP - have, MSG_DONTWAIT);
        if (n > 0)
            have += (size_t)n;
        else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            end_of_stream();
    }
}
