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
    "    -f format        : Output Format, bmp or png\n"                                           \
    "    -z level         : PNG compression, 1 fastest to 9 smallest (default 6)\n"                \
    "                       against zlib's default, time and bytes: -z 1 0.2x 1.05x,\n"            \
    "                       -z 4 0.3x 1.01x, -z 6 0.35x 0.99x, -z 9 2.5x 0.87x\n"
#define MSG_UNKNOWN_OPTION "Unknown option '%c'.\n"
#define MSG_UNKNOWN_FORMAT "Unknown format '%s'.\n"
#define MSG_UNKNOWN_LEVEL "Unknown level '%s'; -z takes 1 (fastest) to 9 (smallest).\n"
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
    "    -l list-file     : list file; put the pictures back into its archives\n"                  \
    "    -c arc-dir       : Archive file Directory\n"                                              \
    "    -C work-dir      : Work Directory\n"                                                      \
    "    -p palette-file  : Palette of a KZP, BMP or PNG file to map the colours to\n"             \
    "    -P               : keep the pictures' own Palettes\n"                                     \
    "    -n               : map colours the palette lacks to the Nearest ones\n"                   \
    "    -d               : and Dither them (implies -n)\n"                                        \
    "    -F               : with -l, Fit too-large pictures where that hardly shows\n"             \
    "    -A               : with -l, Accept the best fit whatever it shows (implies -F)\n"         \
    "    -s show-dir      : with -l, write the pictures as put back into Show-dir\n"
#define MSG_EXCLUSIVE "options -%c and -%c exclude each other.\n"
#define MSG_COMBINED "option '%s' is more than one option; give each alone, as in '%s'.\n"
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
#define MSG_BMP_UNREADABLE                                                                         \
    "'%s' is %s; quorbin-pack reads BMP files of 1, 4, 8, 24 or 32 bits: save it as one of "       \
    "those first.\n"
#define MSG_UNMAPPED                                                                               \
    "'%s' has %llu pixels of colours that the palette does not hold, the first at (%d, %d): "      \
    "#%02x%02x%02x.\n"
#define MSG_NEAREST                                                                                \
    "'%s' has %llu pixels of colours that the palette does not hold; they took the nearest ones, " \
    "the farthest %.3f away (delta E OK).\n"
#define MSG_DITHERED                                                                               \
    "'%s' has %llu pixels of colours that the palette does not hold; they were dithered with the " \
    "nearest ones, the farthest %.3f away (delta E OK).\n"
#define MSG_KEYED                                                                                  \
    "'%s' has %llu pixels that took index %d, the colour of the picture's corners and likely its " \
    "transparency key, without being that colour, the first at (%d, %d).\n"
#define MSG_NO_ENTRY "no entry of the list file has the name of '%s'.\n"
#define MSG_MANY_ENTRIES                                                                           \
    "'%s' has the name of %d different entries of the list file; give only the line of the "       \
    "wanted one, as in: grep ' %lld ' LIST | quorbin-pack -l - ... %s\n"
#define MSG_SECOND_PICTURE "'%s' is a second picture for entry '%s' of '%s'.\n"
#define MSG_OVERLAP                                                                                \
    "entry '%s' of '%s' overlaps another entry of the list file; writing it would change that "    \
    "one.\n"
#define MSG_ENTRY_OUTSIDE "entry '%s' does not lie inside '%s'.\n"
#define MSG_ENTRY_DAMAGED "entry '%s' of '%s' does not decode to an image.\n"
#define MSG_OTHER_ARCHIVE                                                                          \
    "output file '%s' is another archive of the list file or written for one.\n"
#define MSG_READ_ONLY "'%s' is read-only.\n"
#define MSG_SIZE_MISMATCH "'%s' is %d x %d pixels; entry '%s' is %d x %d.\n"
#define MSG_TOO_MANY_BYTES                                                                         \
    "'%s' needs %lld bytes; the entry holds %lld: %lld (%.2f%%) too many (-F fits it where that "  \
    "hardly shows).\n"
#define MSG_CANNOT_FIT "'%s' does not fit the entry's %lld bytes even with its pixels changed.\n"
#define MSG_FIT_SHOWS                                                                              \
    "'%s' needs %lld bytes; the entry holds %lld: %lld (%.2f%%) too many, and the best fit "       \
    "changes %llu of the edit's %llu pixels, by %.3f on average over the edit, %.3f seen from a "  \
    "step back, %.3f at most (delta E OK), which shows: simplify the edit (fewer colours, less "   \
    "detail, a smaller area) or take that fit with -A.\n"
#define MSG_FITTED                                                                                 \
    "'%s' fits the entry's %lld bytes with %llu of the edit's %llu pixels changed, by %.3f on "    \
    "average over the edit, %.3f seen from a step back, %.3f at most (delta E OK).\n"
#define MSG_UNREACHABLE                                                                            \
    "'%s' packs into %lld bytes, and no choice of literals and references makes exactly the "      \
    "entry's %lld.\n"
#define MSG_NOT_DECODED "'%s' does not decode back to its picture; nothing is written for it.\n"
