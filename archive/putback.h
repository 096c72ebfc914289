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

#include "fit/fit.h"
#include "picture.h"
#include "report.h"
#include "run_options.h"

// A line of the list: an entry, where lines that name the same archive path,
// offset and size are one entry.
struct ArchiveEntry {
    std::string archive; // the archive's path: arc-dir and the name
    int64_t offset, size;
    std::string name;
};

// Reads the lines of options.list_file (arc-dir in front of each archive
// name); reports and returns false when it cannot be opened.
bool read_archive_entries(const Options& options, std::vector<ArchiveEntry>* entries,
                          FileId* list_id);

// Reads the stream of `entry` into `stream` and decodes it into `image`, the
// archive's identity into `*id`; reports why it cannot (an archive that does
// not open, an entry outside it, one that decodes to no picture).
bool read_archive_entry(const ArchiveEntry& entry, std::vector<uint8_t>* stream,
                        std::vector<uint8_t>* image, FileId* id);

// A picture to put back: the file `name`, read when it is put back, or, when
// `given` is not null, that picture, already read, named `name` (its stem
// names the entry, and the messages name it).
struct PutBackPicture {
    std::string name;
    const Picture* given;
};

// What became of a picture: the entry its stem names and the archive written
// for it (empty when there is none), whether it went back, what was said of
// it on standard error (the programs' messages), the pixels that took nearest
// colours and, when it needed one, the fit (its image not kept).
struct PutBackResult {
    std::string picture, entry, archive;
    bool back;
    std::vector<std::string> messages;
    KzpUnmapped mapped;
    Fit fit;
};

// A run: whether the list could be read, a result a picture in order, and,
// when kept, everything the run said in order, as quorbin-pack -l says it.
struct PutBackRun {
    bool listed;
    std::vector<PutBackResult> results;
    Transcript said;
};

// Puts `pictures` back into the entries of options.list_file, as above.  What
// the run says goes to the standard streams as it happens, or, `keep`, into
// the run's transcript (and each picture's messages into its result).
PutBackRun put_back_pictures(const std::vector<PutBackPicture>& pictures, const Options& options,
                             bool keep);

// quorbin-pack -l: puts the files `pictures` back, saying what happens.
// Progress lines, "picture -> archive/entry ... ", end in OK once that
// archive is in place.  Returns 1 when every picture was put back.
int put_back(const std::vector<std::string>& pictures, const Options& options);
