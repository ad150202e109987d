/* The yardstick: walks a tree and, for every *.jpg, opens it, reads its
 * header, queries its size, closes it and prints "path width height bytes";
 * nothing else. Same order and lines as `ostrel -v2 -r`. Usage: floor DIR */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

enum { WINDOW = 16384 }; /* the same header read as ostrel's */
struct header { int fd; long start, length; unsigned char bytes[WINDOW]; };

/* The big-endian pair at `at`, or -1 past the end of the file. */
static long pair_at(struct header *h, long at) {
    if (h->length < 0 || at < h->start || at + 2 > h->start + h->length) {
        if (h->length >= 0 && at >= h->start && h->length < WINDOW) return -1;
        h->start = at;
        h->length = pread(h->fd, h->bytes, WINDOW, at);
        if (h->length < 2) { h->length = h->length < 0 ? 0 : h->length; return -1; }
    }
    return h->bytes[at - h->start] << 8 | h->bytes[at - h->start + 1];
}

static long scan(struct header *h, long at, long code) {
    for (long m, len;; at += len) {
        if ((m = pair_at(h, at)) < 0) return -1;
        if (m == code) return at;
        at += 2, len = 0;
        if (m == 0xFFD8 || m == 0xFFD9) continue;
        if (m >> 8 != 0xFF || (len = pair_at(h, at)) < 2) return -1;
    }
}

static long frame(struct header *h) {
    static const long codes[] = {0xFFC0, 0xFFC2};
    for (int c = 0; c < 2; ++c)
        for (long from = 0, p; from <= 128; from += 128)
            if ((p = scan(h, from, codes[c])) >= 0) return p;
    return -1;
}

static void probe(const char *path) {
    static struct header h;
    struct stat st;
    h.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (h.fd < 0 || fstat(h.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        printf("%s;can't open file\n", path);
        if (h.fd >= 0) close(h.fd);
        return;
    }
    h.length = -1; /* nothing read yet */
    long p = frame(&h);
    if (p < 0) {
        printf("%s:can't find marker\n", path);
    } else {
        long y = pair_at(&h, p + 5), x = pair_at(&h, p + 7);
        printf("%s %ld %ld %lld\n", path, x < 0 ? 0 : x, y < 0 ? 0 : y,
               (long long)st.st_size);
    }
    close(h.fd);
}

static int by_name(const void *a, const void *b) {
    const char *x = *(char *const *)a, *y = *(char *const *)b;
    int folded = strcasecmp(x, y);
    return folded ? folded : strcmp(x, y);
}

static int is_jpg(const char *name) {
    size_t n = strlen(name);
    return n >= 4 && strcasecmp(name + n - 4, ".jpg") == 0;
}

static void walk(const char *dir) {
    DIR *d = opendir(dir);
    if (!d) return;
    char **files = NULL, **dirs = NULL;
    size_t nf = 0, nd = 0, cf = 0, cd = 0;
    for (struct dirent *e; (e = readdir(d));) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        struct stat st;
        int is_dir = e->d_type == DT_DIR ||
                     ((e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) &&
                      !fstatat(dirfd(d), e->d_name, &st, 0) && S_ISDIR(st.st_mode));
        if (!is_dir && !is_jpg(e->d_name)) continue;
        char *full;
        if (asprintf(&full, "%s/%s", dir, e->d_name) < 0) abort();
        if (is_dir) {
            if (nd == cd) dirs = realloc(dirs, (cd = cd * 2 + 16) * sizeof *dirs);
            dirs[nd++] = full;
        } else {
            if (nf == cf) files = realloc(files, (cf = cf * 2 + 16) * sizeof *files);
            files[nf++] = full;
        }
    }
    closedir(d);
    qsort(files, nf, sizeof *files, by_name);
    for (size_t i = 0; i < nf; ++i) probe(files[i]), free(files[i]);
    free(files);
    qsort(dirs, nd, sizeof *dirs, by_name);
    for (size_t i = 0; i < nd; ++i) walk(dirs[i]), free(dirs[i]);
    free(dirs);
}

int main(int argc, char **argv) {
    static char out[1 << 16];
    setvbuf(stdout, out, _IOFBF, sizeof out);
    if (argc != 2) return fprintf(stderr, "usage: floor DIR\n"), 2;
    walk(argv[1]);
    return 0;
}
