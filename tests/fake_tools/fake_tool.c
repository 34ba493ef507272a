/* A stand-in for an external tool, for what the real tools cannot be made to do on demand.
 *
 *   auralon_fake_tool [options] [-- tool arguments...]
 *
 * In this order:
 *   --log FILE     append the tool arguments to FILE: each followed by a NUL byte, the run
 *                  ended by a newline
 *   --list-fds     print "fds:" and every open descriptor number, e.g. "fds: 0 1 2"
 *   --text FILE    print FILE's bytes
 *   --split N      ... cut before byte N (may be given several times, ascending) with
 *   --pause MS     ... a pause of MS milliseconds at every cut (default 50)
 *   --orphan       start a child that sleeps forever and outlives this process; print
 *                  "orphan=<pid>"
 *   --hang         start a child that sleeps forever, print "pid=<pid> child=<pid>" on
 *                  standard error (a measuring worker's answers are its standard output), then
 *                  sleep forever too
 *   --hang-if TEXT ... only when a tool argument holds TEXT
 *   --exec PROG    replace this process by PROG with the tool arguments
 *   --signal N     kill this process with signal N (no core file)
 *   --exit N       exit with status N (default 0)
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define MAX_SPLITS 64

static void fail(const char* what)
{
    fprintf(stderr, "fake tool: %s: %s\n", what, strerror(errno));
    exit(99);
}

static void write_all(const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(STDOUT_FILENO, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("write");
        }
        data += n;
        size -= (size_t)n;
    }
}

static void pause_ms(long ms)
{
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

static void sleep_forever(void)
{
    for (;;)
        pause();
}

static char* read_whole(const char* path, size_t* size)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        fail(path);
    size_t capacity = 4096, used = 0;
    char* data = malloc(capacity);
    size_t n;
    while (data && (n = fread(data + used, 1, capacity - used, f)) > 0) {
        used += n;
        if (used == capacity)
            data = realloc(data, capacity *= 2);
    }
    fclose(f);
    if (!data)
        fail("memory");
    *size = used;
    return data;
}

/* One write for the whole run, so that runs started at the same time do not mix their
 * records. */
static void log_arguments(const char* path, int argc, char** argv)
{
    size_t size = 1;
    for (int i = 0; i < argc; ++i)
        size += strlen(argv[i]) + 1;
    char* record = malloc(size);
    if (!record)
        fail("log");
    char* end = record;
    for (int i = 0; i < argc; ++i)
        end = stpcpy(end, argv[i]) + 1;
    *end = '\n';
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        fail(path);
    if (write(fd, record, size) != (ssize_t)size)
        fail("log");
    close(fd);
    free(record);
}

static void list_descriptors(void)
{
    char line[4096] = "fds:";
    for (int fd = 0; fd < 1024; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 && strlen(line) + 8 < sizeof line)
            snprintf(line + strlen(line), sizeof line - strlen(line), " %d", fd);
    }
    strcat(line, "\n");
    write_all(line, strlen(line));
}

static pid_t start_sleeper(void)
{
    pid_t child = fork();
    if (child < 0)
        fail("fork");
    if (child == 0)
        sleep_forever();
    return child;
}

int main(int argc, char** argv)
{
    const char* log = NULL;
    const char* text = NULL;
    const char* exec_program = NULL;
    const char* hang_if = NULL;
    long splits[MAX_SPLITS];
    int split_count = 0;
    long pause = 50;
    int list_fds = 0, orphan = 0, hang = 0, signal_number = 0, status = 0;

    int i = 1;
    for (; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(a, "--") == 0) {
            ++i;
            break;
        } else if (strcmp(a, "--list-fds") == 0) {
            list_fds = 1;
        } else if (strcmp(a, "--orphan") == 0) {
            orphan = 1;
        } else if (strcmp(a, "--hang") == 0) {
            hang = 1;
        } else if (value && strcmp(a, "--log") == 0) {
            log = value, ++i;
        } else if (value && strcmp(a, "--text") == 0) {
            text = value, ++i;
        } else if (value && strcmp(a, "--hang-if") == 0) {
            hang_if = value, ++i;
        } else if (value && strcmp(a, "--exec") == 0) {
            exec_program = value, ++i;
        } else if (value && strcmp(a, "--split") == 0 && split_count < MAX_SPLITS) {
            splits[split_count++] = atol(value), ++i;
        } else if (value && strcmp(a, "--pause") == 0) {
            pause = atol(value), ++i;
        } else if (value && strcmp(a, "--signal") == 0) {
            signal_number = atoi(value), ++i;
        } else if (value && strcmp(a, "--exit") == 0) {
            status = atoi(value), ++i;
        } else {
            fprintf(stderr, "fake tool: unknown option %s\n", a);
            return 98;
        }
    }
    int tool_argc = argc - i;
    char** tool_argv = argv + i;
    if (hang && hang_if) {
        hang = 0;
        for (int a = 0; a < tool_argc; ++a)
            hang = hang || strstr(tool_argv[a], hang_if) != NULL;
    }

    if (log)
        log_arguments(log, tool_argc, tool_argv);
    if (list_fds)
        list_descriptors();
    if (text) {
        size_t size = 0;
        char* data = read_whole(text, &size);
        size_t done = 0;
        for (int s = 0; s < split_count; ++s) {
            size_t cut = splits[s] < 0 ? 0 : (size_t)splits[s];
            if (cut > size)
                cut = size;
            if (cut < done)
                continue;
            write_all(data + done, cut - done);
            done = cut;
            pause_ms(pause);
        }
        write_all(data + done, size - done);
        free(data);
    }
    if (orphan) {
        char line[64];
        snprintf(line, sizeof line, "orphan=%d\n", (int)start_sleeper());
        write_all(line, strlen(line));
    }
    if (hang) {
        char line[96];
        pid_t child = start_sleeper();
        snprintf(line, sizeof line, "pid=%d child=%d\n", (int)getpid(), (int)child);
        if (write(STDERR_FILENO, line, strlen(line)) < 0)
            fail("write");
        sleep_forever();
    }
    if (exec_program) {
        char** args = calloc((size_t)tool_argc + 2, sizeof *args);
        if (!args)
            fail("memory");
        args[0] = (char*)exec_program;
        for (int a = 0; a < tool_argc; ++a)
            args[a + 1] = tool_argv[a];
        execv(exec_program, args);
        fail(exec_program);
    }
    if (signal_number > 0) {
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        signal(signal_number, SIG_DFL);
        raise(signal_number);
    }
    return status;
}
