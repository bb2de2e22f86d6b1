/* The physical floor of reading a folder of MP3 files: one directory read,
 * then per file only what any reader must touch (open, size, the ID3v2
 * header, the first frame header, the last 128 bytes), and one line out.
 * EXTENSIONS (".flac,.oga", default ".mp3") names the files of other formats
 * read the same way: open plus three small reads is the floor of any of them.
 *
 *     floor_reader FOLDER [EXTENSIONS] > /dev/null
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static const char* extensions = ".mp3";

/* The name ends in one of the comma-separated extensions, letter case ignored. */
static int isListed(const char* name)
{
    size_t n = strlen(name);
    if (name[0] == '.')
        return 0;
    for (const char* e = extensions; *e;) {
        size_t len = strcspn(e, ",");
        if (len > 0 && n >= len && strncasecmp(name + n - len, e, len) == 0)
            return 1;
        e += len + (e[len] == ',');
    }
    return 0;
}

static int byName(const void* a, const void* b) { return strcmp(*(char* const*)a, *(char* const*)b); }

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: %s FOLDER [EXTENSIONS]\n", argv[0]);
        return 2;
    }
    if (argc == 3)
        extensions = argv[2];
    DIR* dir = opendir(argv[1]);
    if (!dir) {
        perror(argv[1]);
        return 1;
    }
    int dfd = dirfd(dir);
    size_t count = 0, cap = 1024;
    char** names = malloc(cap * sizeof *names);
    struct dirent* e;
    while ((e = readdir(dir)) != NULL) {
        if ((e->d_type != DT_REG && e->d_type != DT_UNKNOWN) || !isListed(e->d_name))
            continue;
        if (count == cap)
            names = realloc(names, (cap *= 2) * sizeof *names);
        names[count++] = strdup(e->d_name);
    }
    qsort(names, count, sizeof *names, byName);

    unsigned long long readable = 0;
    for (size_t i = 0; i < count; ++i) {
        int fd = openat(dfd, names[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        unsigned char id3[10] = {0}, frame[4] = {0}, v1[128] = {0};
        long tagEnd = 0;
        if (fstat(fd, &st) == 0 && pread(fd, id3, sizeof id3, 0) == (ssize_t)sizeof id3 && memcmp(id3, "ID3", 3) == 0)
            tagEnd = 10 + ((long)(id3[6] & 0x7f) << 21 | (id3[7] & 0x7f) << 14 | (id3[8] & 0x7f) << 7 | (id3[9] & 0x7f));
        int sync = pread(fd, frame, sizeof frame, tagEnd) == (ssize_t)sizeof frame && frame[0] == 0xff && (frame[1] & 0xe0) == 0xe0;
        int hasV1 = st.st_size >= 128 && pread(fd, v1, sizeof v1, st.st_size - 128) == (ssize_t)sizeof v1
                    && memcmp(v1, "TAG", 3) == 0;
        close(fd);
        readable += sync;
        printf("%s\t%ld\t%02x%02x%02x%02x\t%d\t%lld\n", names[i], tagEnd, frame[0], frame[1], frame[2], frame[3], hasV1,
               (long long)st.st_size);
    }
    fprintf(stderr, "%zu files, %llu with a frame after the tag\n", count, readable);
    for (size_t i = 0; i < count; ++i)
        free(names[i]);
    free(names);
    closedir(dir);
    return 0;
}
