// Every text quorbin writes to standard error.  The manual page's DIAGNOSTICS
// section must name each of them; a test reads the literals from this file.
#pragma once

#define MSG_BANNER "quorbin - KZP to BMP converter%33s2026 The quorbin authors\n"
#define MSG_USAGE                                                                                  \
    "usage: quorbin [option] [kzp-file]\n"                                                         \
    "[option]\n"                                                                                   \
    "    -l list-file     : list file\n"                                                           \
    "    -c arc-dir       : Archive file Directory\n"                                              \
    "    -C work-dir      : Work Directory\n"
#define MSG_UNKNOWN_OPTION "Unknown option '%c'.\n"
#define MSG_OPTION_ERROR "option error.\n"
#define MSG_CANT_OPEN "can't open file '%s'.\n"
#define MSG_CANT_OPEN_LIST "cat't open list file '%s'.\n"
#define MSG_CANT_SEEK "can't seek to offset %lld in '%s'.\n"
#define MSG_BAD_NUMBER "bad offset or size for entry '%s'.\n"
#define MSG_CANT_CREATE "can't create file '%s'.\n"
#define MSG_SAME_AS_INPUT "output file '%s' is the input file.\n"
#define MSG_NO_MEMORY "out of memory for '%s'.\n"
#define MSG_BROKEN_IMAGE "broken image data for '%s'.\n"
#define MSG_CANT_WRITE "can't write file '%s'.\n"
