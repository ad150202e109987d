/* The second yardstick, the device's limit: first gathers every *.jpg of a
 * tree on one thread (directories held open, files in inode order within
 * each directory, which reads the disk most nearly in sequence), then 64
 * threads take the files from that list one at a time, each opening a file
 * relative to its directory's handle, reading its header window and closing
 * it. Read-ahead is turned off per file, so just the window comes off the
 * disk: without that a 16 KiB read brings in 64 KiB. No parsing, no size
 * query, no output per file. Prints "FILES files, gathering MS ms, reading
 * MS ms". Usage: reader64 DIR */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#ifndef WINDOW
#define WINDOW 16384 /* holds the frame header of every generated file */
#endif
enum { THREADS = 64, LISTING = 32768 };

struct file { unsigned long long inode; int dir; size_t name; };
static struct { struct file *at; size_t n, room; char *names; size_t used, cap; } list;
static atomic_size_t next_file;

static void add(int dir, const struct dirent64 *e) {
    size_t size = strlen(e->d_name) + 1;
    if (list.used + size > list.cap) list.names = realloc(list.names, list.cap = (list.cap + size) * 2);
    if (list.n == list.room) list.at = realloc(list.at, (list.room = list.room * 2 + 1024) * sizeof *list.at);
    if (!list.names || !list.at) abort();
    memcpy(list.names + list.used, e->d_name, size);
    list.at[list.n++] = (struct file){e->d_ino, dir, list.used};
    list.used += size;
}

static int by_place(const void *a, const void *b) {
    const struct file *x = a, *y = b;
    if (x->dir != y->dir) return x->dir < y->dir ? -1 : 1;
    return x->inode < y->inode ? -1 : x->inode > y->inode;
}

/* Lists `dir` and, depth first, every directory below it; keeps them open. */
static void gather(int dir) {
    char buffer[LISTING];
    for (long got; (got = getdents64(dir, buffer, LISTING)) > 0;)
        for (long i = 0; i < got; i += ((struct dirent64 *)(buffer + i))->d_reclen) {
            struct dirent64 *e = (struct dirent64 *)(buffer + i);
            size_t n = strlen(e->d_name);
            struct stat st;
            int sub = e->d_type == DT_DIR ||
                      ((e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) &&
                       !fstatat(dir, e->d_name, &st, 0) && S_ISDIR(st.st_mode));
            if (sub && strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) {
                int below = openat(dir, e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (below >= 0) gather(below);
                else perror(e->d_name);
            } else if (!sub && n >= 4 && !strcasecmp(e->d_name + n - 4, ".jpg")) {
                add(dir, e);
            }
        }
}

static void *read_files(void *unused) {
    unsigned char window[WINDOW];
    (void)unused;
    for (size_t i; (i = atomic_fetch_add(&next_file, 1)) < list.n;) {
        int fd = openat(list.at[i].dir, list.names + list.at[i].name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
        if (pread(fd, window, WINDOW, 0) < 0) perror("pread");
        close(fd);
    }
    return NULL;
}

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char **argv) {
    if (argc != 2) return fprintf(stderr, "usage: reader64 DIR\n"), 2;
    struct rlimit files;
    if (!getrlimit(RLIMIT_NOFILE, &files)) { /* room for every directory */
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    double start = now_ms();
    int root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return perror(argv[1]), 1;
    gather(root);
    qsort(list.at, list.n, sizeof *list.at, by_place);
    double gathered = now_ms();
    pthread_t threads[THREADS];
    for (int t = 0; t < THREADS; ++t)
        if (pthread_create(&threads[t], NULL, read_files, NULL)) return perror("thread"), 1;
    for (int t = 0; t < THREADS; ++t) pthread_join(threads[t], NULL);
    printf("%zu files, gathering %.1f ms, reading %.1f ms\n", list.n,
           gathered - start, now_ms() - gathered);
    return 0;
}
