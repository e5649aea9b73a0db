#include "embedded_image.h"

#include <elf.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

/* The runtime and the image are joined by plain concatenation, so the image
 * begins where the last byte the ELF headers account for ends; section data
 * that no segment maps (the section name table, for one) counts as well. */
static int elf_end(int fd, uint64_t *end)
{
    Elf64_Ehdr header;
    if (pread(fd, &header, sizeof header, 0) != (ssize_t)sizeof header)
        return -1;
    if (memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
        return -1;

    uint64_t last = header.e_ehsize;
    if (header.e_phoff + (uint64_t)header.e_phnum * header.e_phentsize > last)
        last = header.e_phoff + (uint64_t)header.e_phnum * header.e_phentsize;
    if (header.e_shoff + (uint64_t)header.e_shnum * header.e_shentsize > last)
        last = header.e_shoff + (uint64_t)header.e_shnum * header.e_shentsize;

    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        if (pread(fd, &segment, sizeof segment, header.e_phoff + (uint64_t)i * header.e_phentsize)
            != (ssize_t)sizeof segment)
            return -1;
        if (segment.p_offset + segment.p_filesz > last)
            last = segment.p_offset + segment.p_filesz;
    }
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section;
        if (pread(fd, &section, sizeof section, header.e_shoff + (uint64_t)i * header.e_shentsize)
            != (ssize_t)sizeof section)
            return -1;
        if (section.sh_type != SHT_NOBITS && section.sh_offset + section.sh_size > last)
            last = section.sh_offset + section.sh_size;
    }
    *end = last;
    return 0;
}

int embedded_image_offset(const char *path, uint64_t *offset)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    uint64_t end = 0;
    char magic[4];
    int found = -1;
    if (elf_end(fd, &end) == 0) {
        uint64_t aligned = (end + 4095) & ~(uint64_t)4095;
        if (pread(fd, magic, sizeof magic, (off_t)aligned) == (ssize_t)sizeof magic
            && memcmp(magic, "hsqs", sizeof magic) == 0) {
            *offset = aligned;
            found = 0;
        }
    }
    close(fd);
    return found;
}
