#include "putback.h"

#include <algorithm>
#include <cstring>

#include "job.h"
#include "listfile.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "naming.h"
#include "pack.h"

namespace {

constexpr size_t kCopyBlock = size_t{1} << 20; // bytes per read and write of the copy

// A line of the list: an entry, where lines that name the same archive path,
// offset and size are one entry.
struct Entry {
    std::string archive; // the archive's path: arc-dir and the name
    int64_t offset, size;
    std::string name;
};

bool same_range(const Entry& a, const Entry& b) {
    return a.archive == b.archive && a.offset == b.offset && a.size == b.size;
}

// An archive that gets pictures: where its copy goes, and what replaces
// which of its entries.
struct Patch {
    size_t entry;
    std::string picture;
    std::vector<uint8_t> stream;
};
struct Archive {
    std::string source, output;
    FileId source_id, output_id;
    std::vector<Patch> patches;
};

bool overlap(const Entry& a, const Entry& b) {
    return a.archive == b.archive && !same_range(a, b) && a.size > 0 && b.size > 0 &&
           a.offset < b.offset + b.size && b.offset < a.offset + a.size;
}

// Reads the list's lines; false when it cannot be opened.
bool read_entries(const Options& options, std::vector<Entry>* entries, FileId* list_id) {
    ListReader list;
    if (!open_list(options.list_file, &list)) return false;
    *list_id = list.id;
    ListLine line;
    while (next_list_line(list, &line))
        entries->push_back({options.archive_dir + line.archive_name, line.offset, line.stored_size,
                            line.entry_name});
    return true;
}

// Decodes `entry` into `image`; reports why it cannot.
bool read_entry(const Entry& entry, std::vector<uint8_t>* image, FileId* id) {
    std::FILE* archive = open_input(entry.archive.c_str(), kReadBlocks);
    if (!archive) {
        report(MSG_CANT_OPEN, entry.archive.c_str());
        return false;
    }
    *id = file_id_of(archive);
    const int64_t size = file_size(archive);
    if (entry.size <= 0 || entry.offset < 0 || size < 0 || entry.offset > size - entry.size ||
        !seek_to(archive, entry.offset)) {
        std::fclose(archive);
        report(MSG_ENTRY_OUTSIDE, entry.name.c_str(), entry.archive.c_str());
        return false;
    }
    image->resize(static_cast<size_t>(9 * entry.size));
    image->resize(static_cast<size_t>(decode_stored_stream(archive, entry.size, image->data())));
    std::fclose(archive);
    KzpImage parsed;
    if (kzp_image_parse(image->data(), static_cast<int64_t>(image->size()), &parsed) &&
        parsed.width > 0 && parsed.height > 0)
        return true;
    report(MSG_ENTRY_DAMAGED, entry.name.c_str(), entry.archive.c_str());
    return false;
}

// The stream of exactly the entry's size for `picture` put into `entry`;
// reports why there is none.
bool pack_into(const std::string& picture, const Entry& entry, const std::vector<uint8_t>& target,
               const Options& options, std::vector<uint8_t>* stream) {
    std::FILE* input = open_input(picture.c_str(), kReadBlocks);
    if (!input) {
        report(MSG_CANT_OPEN, picture.c_str());
        return false;
    }
    Buffer bytes;
    const int64_t size = read_whole(input, bytes);
    std::fclose(input);
    if (size < 0) {
        report(MSG_NO_MEMORY, picture.c_str());
        return false;
    }
    std::vector<uint8_t> own, image;
    KzpColours colours{};
    if (!read_picture(picture.c_str(), bytes.get(), static_cast<size_t>(size), &own,
                      options.own_palette ? nullptr : &colours))
        return false;
    KzpImage old, given;
    kzp_image_parse(target.data(), static_cast<int64_t>(target.size()), &old);
    if (options.own_palette) {
        kzp_image_parse(own.data(), static_cast<int64_t>(own.size()), &given);
        colours.width = given.width, colours.height = given.height;
    }
    if (colours.width != old.width || colours.height != old.height) {
        report(MSG_SIZE_MISMATCH, picture.c_str(), colours.width, colours.height,
               entry.name.c_str(), old.width, old.height);
        return false;
    }
    KzpUnmapped unmapped;
    if (options.own_palette) {
        image = kzp_with_pixels(target, given.pixels, given.palette);
    } else if (!kzp_map_picture(target, colours, &image, &unmapped)) {
        report_unmapped(picture, unmapped);
        return false;
    }
    LzssEncodeOptions fit;
    fit.target_size = static_cast<uint64_t>(entry.size);
    const int result = lzss_encode_into(image.data(), image.size(), stream, fit);
    const long long needs = static_cast<long long>(stream->size()), holds = entry.size;
    if (result == kLzssTooLarge) report(MSG_TOO_MANY_BYTES, picture.c_str(), needs, holds);
    if (result == kLzssUnreachable) report(MSG_UNREACHABLE, picture.c_str(), needs, holds);
    if (result != kLzssEncoded) return false;
    std::vector<uint8_t> check(9 * stream->size());
    check.resize(static_cast<size_t>(
        decode_stored_buffer(stream->data(), static_cast<int64_t>(stream->size()), check.data())));
    if (check == image) return true;
    report(MSG_NOT_DECODED, picture.c_str());
    return false;
}

// Copies `count` bytes of `from` to `to`; false when a read or write fails.
bool copy_bytes(std::FILE* from, int64_t count, std::FILE* to, std::vector<uint8_t>& block) {
    while (count > 0) {
        const size_t take = static_cast<size_t>(std::min<int64_t>(count, kCopyBlock));
        if (std::fread(block.data(), 1, take, from) != take ||
            std::fwrite(block.data(), 1, take, to) != take)
            return false;
        count -= static_cast<int64_t>(take);
    }
    return true;
}

// Writes the copy of `archive` with its entries replaced.  The message (of
// one %s) and its path when it fails; nullptr when the copy is in place.
const char* write_archive(const Archive& archive, const std::vector<Entry>& entries,
                          const std::vector<FileId>& protect, std::string* path) {
    *path = archive.source;
    std::FILE* source = open_input(archive.source.c_str(), kReadBlocks);
    if (!source) return MSG_CANT_OPEN;
    *path = archive.output;
    const bool replacing = path_id(archive.output.c_str()).known;
    const std::string part = archive.output + ".part";
    std::vector<FileId> keep(protect);
    keep.push_back(file_id_of(source));
    for (const FileId& id : protect)
        if (same_file(path_id(archive.output.c_str()), id)) {
            std::fclose(source);
            return MSG_SAME_AS_INPUT;
        }
    OutputFile out;
    const int created =
        create_output(part.c_str(), keep.data(), static_cast<int>(keep.size()), &out);
    if (created != kCreated) {
        std::fclose(source);
        if (created == kCreateIsInput) *path = part;
        return created == kCreateIsInput ? MSG_SAME_AS_INPUT : MSG_CANT_CREATE;
    }
    std::vector<const Patch*> in_order;
    for (const Patch& patch : archive.patches)
        in_order.push_back(&patch);
    std::sort(in_order.begin(), in_order.end(), [&](const Patch* a, const Patch* b) {
        return entries[a->entry].offset < entries[b->entry].offset;
    });
    std::vector<uint8_t> block(kCopyBlock);
    int64_t at = 0;
    bool ok = true;
    for (const Patch* patch : in_order) {
        const Entry& entry = entries[patch->entry];
        ok = ok && copy_bytes(source, entry.offset - at, out.file, block) &&
             std::fwrite(patch->stream.data(), 1, patch->stream.size(), out.file) ==
                 patch->stream.size() &&
             seek_to(source, entry.offset + entry.size);
        at = entry.offset + entry.size;
    }
    ok = ok && copy_bytes(source, file_size(source) - at, out.file, block) &&
         copy_permissions(source, out.file) && (!replacing || flush_to_disk(out.file));
    std::fclose(source);
    int result = close_output(out, ok ? kConvertOk : kConvertWriteError);
    if (result == kConvertOk && rename_file(part.c_str(), archive.output.c_str())) return nullptr;
    if (out.regular) remove_file(part.c_str());
    return result == kConvertOk ? MSG_CANT_CREATE : MSG_CANT_WRITE;
}

} // namespace

int put_back(const std::vector<std::string>& pictures, const Options& options) {
    std::vector<Entry> entries;
    FileId list_id;
    if (!read_entries(options, &entries, &list_id)) return 0;
    std::vector<std::string> stems;
    for (const Entry& entry : entries)
        stems.push_back(output_stem(entry.name));
    // Nothing written may be the list or a picture.
    std::vector<FileId> protect{list_id};
    for (const std::string& picture : pictures)
        protect.push_back(path_id(picture.c_str()));

    std::vector<Archive> archives;
    int all = 1;
    for (const std::string& picture : pictures) {
        std::vector<size_t> found; // the first line of each entry with the picture's stem
        for (size_t i = 0; i < entries.size(); i++)
            if (same_stem(stems[i], output_stem(picture)) &&
                std::none_of(found.begin(), found.end(),
                             [&](size_t j) { return same_range(entries[i], entries[j]); }))
                found.push_back(i);
        if (found.size() != 1) {
            if (found.empty())
                report(MSG_NO_ENTRY, picture.c_str());
            else
                report(MSG_MANY_ENTRIES, picture.c_str(), static_cast<int>(found.size()),
                       static_cast<long long>(entries[found[0]].offset), picture.c_str());
            all = 0;
            continue;
        }
        const Entry& entry = entries[found[0]];
        std::string output;
        make_output_path(output, entry.archive, options.work_dir);
        // The line waits for the message of a refusal; an accepted picture's
        // line is printed once its archive is in place.
        hold_progress(progress_line(picture, output + "/" + entry.name));
        auto archive = std::find_if(archives.begin(), archives.end(),
                                    [&](const Archive& a) { return a.source == entry.archive; });
        const bool taken =
            archive != archives.end() &&
            std::any_of(archive->patches.begin(), archive->patches.end(),
                        [&](const Patch& p) { return same_range(entries[p.entry], entry); });
        std::vector<uint8_t> target, stream;
        FileId source_id;
        const FileId output_id = path_id(output.c_str());
        if (taken) {
            report(MSG_SECOND_PICTURE, picture.c_str(), entry.name.c_str(), entry.archive.c_str());
        } else if (std::any_of(entries.begin(), entries.end(),
                               [&](const Entry& other) { return overlap(entry, other); })) {
            report(MSG_OVERLAP, entry.name.c_str(), entry.archive.c_str());
        } else if (!read_entry(entry, &target, &source_id)) {
        } else if (std::any_of(archives.begin(), archives.end(), [&](const Archive& a) {
                       return a.source != entry.archive &&
                              (a.output == output || same_file(a.source_id, output_id) ||
                               same_file(a.output_id, source_id));
                   })) {
            report(MSG_OTHER_ARCHIVE, output.c_str());
        } else if (pack_into(picture, entry, target, options, &stream)) {
            if (archive == archives.end())
                archive = archives.insert(archives.end(),
                                          {entry.archive, output, source_id, output_id, {}});
            archive->patches.push_back({found[0], picture, std::move(stream)});
            hold_progress("");
            continue;
        }
        all = 0;
    }

    for (const Archive& archive : archives) {
        std::string path;
        const char* failure = write_archive(archive, entries, protect, &path);
        for (const Patch& patch : archive.patches) {
            std::fputs(
                progress_line(patch.picture, archive.output + "/" + entries[patch.entry].name)
                    .c_str(),
                stdout);
            if (failure)
                report(failure, path.c_str());
            else
                std::printf("OK\n");
        }
        all &= failure == nullptr;
    }
    return all;
}
