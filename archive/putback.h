// quorbin-pack -l: edited pictures back into the archive entries that a list
// file locates, each at its entry's exact stored size.
//
// A picture goes into the entry whose output stem (naming.h) is its own.
// The entry is decoded; the picture, of its width and height, takes its
// place: by default mapped onto the entry's own palette (kzp_map_picture:
// true-colour pictures too), with -P keeping the picture's palette and
// indices.  The bytes in front of the pixels, the width and the height stay,
// and so the decoded length.  The new image is encoded into exactly the
// entry's stored size (lzss_encode_into) and decoded again to check it.
//
// Each archive that takes pictures is written once, into the work directory
// under its base name: as NAME.part, a copy of the source (made by a thread
// of its own from the archive's first picture on, while the pictures are
// packed) with the new streams written over their entries, which keeps every
// other byte and, as the sizes are the same, every offset; then given the
// source's permission bits, flushed to the disk when it replaces a file, and
// renamed into place, which replaces the source itself when that is where it
// goes.  A crash at any point leaves the source as it was and no partly
// written file under the final name; an archive none of whose pictures could
// be packed is not written (its part file is removed).
#pragma once

#include <string>
#include <vector>

#include "run_options.h"

// Puts `pictures` back into the entries of options.list_file.  A picture that
// cannot be put back gets one message on standard error, the others are
// still put back.  Progress lines, "picture -> archive/entry ... ", end in OK
// once that archive is in place.  Returns 1 when every picture was put back.
int put_back(const std::vector<std::string>& pictures, const Options& options);
