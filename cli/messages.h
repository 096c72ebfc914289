// Every text quorbin and quorbin-pack write to standard error.  Their manual
// pages' DIAGNOSTICS sections must name each of them; a test reads the
// literals from this file.
#pragma once

#define MSG_BANNER "quorbin - KZP to BMP converter%33s2026 The quorbin authors\n"
#define MSG_USAGE                                                                                  \
    "usage: quorbin [option] [kzp-file]\n"                                                         \
    "[option]\n"                                                                                   \
    "    -l list-file     : list file\n"                                                           \
    "    -c arc-dir       : Archive file Directory\n"                                              \
    "    -C work-dir      : Work Directory\n"                                                      \
    "    -f format        : Output Format, bmp or png\n"
#define MSG_UNKNOWN_OPTION "Unknown option '%c'.\n"
#define MSG_UNKNOWN_FORMAT "Unknown format '%s'.\n"
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
#define MSG_NO_PIXELS "image for '%s' has no pixels.\n"

#define MSG_PACK_BANNER "quorbin-pack - BMP to KZP packer%31s2026 The quorbin authors\n"
#define MSG_PACK_USAGE                                                                             \
    "usage: quorbin-pack [option] [bmp-or-png-file]\n"                                             \
    "[option]\n"                                                                                   \
    "    -C work-dir      : Work Directory\n"
#define MSG_NOT_BMP                                                                                \
    "'%s' is neither a BMP nor a PNG file; save it as an 8-bit indexed BMP or PNG file (256 "      \
    "colours or fewer) first.\n"
#define MSG_BMP_NOT_PALETTE                                                                        \
    "'%s' is %s; only 1-, 4- and 8-bit palette BMP files can be packed: save it as an 8-bit "      \
    "indexed picture (256 colours or fewer) first.\n"
#define MSG_BMP_DAMAGED "'%s' is a damaged BMP file: %s.\n"
#define MSG_PNG_NOT_PALETTE                                                                        \
    "'%s' is a %s PNG file; only palette or grey images of up to 8 bits can be packed: save it "   \
    "as an indexed picture (256 colours or fewer) first.\n"
#define MSG_PNG_DAMAGED "'%s' is a damaged PNG file: %s.\n"
#define MSG_TOO_LARGE "'%s' has more pixels than quorbin-pack takes (268435456).\n"
