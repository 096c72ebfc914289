#include "putback.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <memory>
#include <system_error>
#include <thread>
#include <tuple>

#include "bmp/bmp.h"
#include "files.h"
#include "fit/fit.h"
#include "listfile.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "naming.h"
#include "picture.h"

namespace {

bool same_range(const ArchiveEntry& a, const ArchiveEntry& b) {
    return a.archive == b.archive && a.offset == b.offset && a.size == b.size;
}

// A picture put back, waiting for its archive to be written.
struct Patch {
    size_t picture_at; // of the pictures given
    size_t entry;
    std::string picture;
    std::vector<uint8_t> stream;
    bool same;                  // the stream is the entry's own
    KzpUnmapped mapped;         // the pixels that took nearest colours
    Fit fit;                    // what -F changed (fit.changed 0: nothing); its image is not kept
    std::vector<uint8_t> shown; // with -s: the image as it went back
};

// An archive that takes pictures: where its copy goes, the copy of the
// source into the part file, which a thread of its own makes while the
// pictures are packed, and what replaces which of its entries.
struct Archive {
    std::string source, output;
    std::string target; // the file the output names, once links are followed: part file beside it
    FileId source_id, output_id;
    bool replacing; // a file is at `output` already, to be flushed to the disk
    std::FILE* from = nullptr;
    OutputFile part{};
    const char* failure = nullptr; // why the copy could not be started, and of what path
    std::string failure_path;
    std::unique_ptr<std::packaged_task<bool()>> copy;
    std::future<bool> copied;
    std::thread copier;
    std::vector<Patch> patches;
};

bool overlap(const ArchiveEntry& a, const ArchiveEntry& b) {
    return a.archive == b.archive && !same_range(a, b) && a.size > 0 && b.size > 0 &&
           a.offset < b.offset + b.size && b.offset < a.offset + a.size;
}

// Writes the decoded `image` as the BMP file that quorbin would make of the
// entry `name`, into the -s directory.
bool show(const std::vector<uint8_t>& image, const std::string& name, const Options& options,
          const std::vector<FileId>& protect) {
    std::string path;
    make_output_name(path, name, options.show_dir, "bmp");
    OutputFile out;
    if (!open_part(path, protect.data(), static_cast<int>(protect.size()), &out)) return false;
    const int result = write_bmp(out.file, image.data(), static_cast<int64_t>(image.size()));
    return finish_part(path, out, result == kBmpOk ? kConvertOk : kConvertWriteError);
}

// The stream of exactly the entry's size for `picture` put into `entry`
// (whose stream is `old` and decoded image `target`): its old items kept up
// to the first change.  Reports why there is none.
bool pack_into(const PutBackPicture& source, const ArchiveEntry& entry,
               const std::vector<uint8_t>& old, const std::vector<uint8_t>& target,
               const Options& options, const std::vector<FileId>& protect, Patch* patch) {
    const std::string& picture = source.name;
    Picture read;
    if (!source.given) {
        Buffer bytes;
        int64_t size = 0;
        if (!read_file(picture, bytes, &size) ||
            !read_picture(picture.c_str(), bytes.get(), static_cast<size_t>(size),
                          !options.own_palette, &read))
            return false;
    } else if (source.given->true_colour && options.own_palette) {
        report(MSG_PNG_NOT_PALETTE, picture.c_str(), "true-colour");
        return false;
    }
    const Picture& given = source.given ? *source.given : read;
    std::vector<uint8_t> image, edited, nearest;
    KzpImage was, own;
    kzp_image_parse(target.data(), static_cast<int64_t>(target.size()), &was);
    if (given.width != was.width || given.height != was.height) {
        report(MSG_SIZE_MISMATCH, picture.c_str(), given.width, given.height, entry.name.c_str(),
               was.width, was.height);
        return false;
    }
    if (options.own_palette) {
        // A recolouring: the edit is where the indices changed.
        kzp_image_parse(given.image.data(), static_cast<int64_t>(given.image.size()), &own);
        image = kzp_with_pixels(target, own.pixels, own.palette);
        edited.resize(static_cast<size_t>(was.width) * static_cast<size_t>(was.height));
        for (size_t i = 0; i < edited.size(); i++)
            edited[i] = own.pixels[i] != was.pixels[i];
    } else if (!map_picture(picture, target, given, options, &image, &patch->mapped, &edited,
                            options.fit && options.dither ? &nearest : nullptr)) {
        return false;
    }
    LzssEncodeOptions exact;
    exact.target_size = static_cast<uint64_t>(entry.size);
    std::vector<uint8_t>& stream = patch->stream;
    int result =
        lzss_encode_after(image.data(), image.size(), old.data(), old.size(), &stream, exact);
    const long long needs = static_cast<long long>(stream.size()), holds = entry.size;
    const double over = 100.0 * static_cast<double>(needs - holds) / static_cast<double>(holds);
    if (result == kLzssTooLarge && options.fit) {
        Fit& fit = patch->fit;
        fit = fit_edit({&target, &image, &edited, nearest.empty() ? nullptr : &nearest,
                        static_cast<uint64_t>(entry.size)});
        if (!fit.fitted) {
            report(MSG_CANNOT_FIT, picture.c_str(), holds);
            return false;
        }
        if (!options.accept && !fit_hardly_shows(fit)) {
            report(MSG_FIT_SHOWS, picture.c_str(), needs, holds, needs - holds, over,
                   static_cast<unsigned long long>(fit.changed),
                   static_cast<unsigned long long>(fit.edit), static_cast<double>(fit.mean),
                   static_cast<double>(fit.seen), static_cast<double>(fit.largest));
            if (!options.show_dir.empty()) show(fit.image, entry.name, options, protect);
            return false;
        }
        image = std::move(fit.image);
        fit.image.clear();
        result =
            lzss_encode_after(image.data(), image.size(), old.data(), old.size(), &stream, exact);
    } else if (result == kLzssTooLarge) {
        report(MSG_TOO_MANY_BYTES, picture.c_str(), needs, holds, needs - holds, over);
    }
    if (result == kLzssUnreachable) report(MSG_UNREACHABLE, picture.c_str(), needs, holds);
    if (result != kLzssEncoded) return false;
    patch->same = stream == old;
    Buffer check = allocate(9 * static_cast<int64_t>(stream.size()));
    if (check &&
        static_cast<size_t>(decode_stored_buffer(stream.data(), static_cast<int64_t>(stream.size()),
                                                 check.get())) == image.size() &&
        std::memcmp(check.get(), image.data(), image.size()) == 0) {
        if (!options.show_dir.empty()) patch->shown = std::move(image);
        return true;
    }
    report(MSG_NOT_DECODED, picture.c_str());
    return false;
}

// Starts the copy of the source archive into the part file.
void start_copy(Archive& archive, const std::vector<FileId>& protect) {
    archive.from = open_input(archive.source.c_str(), kReadBlocks);
    archive.failure_path = archive.from ? archive.output : archive.source;
    if (!archive.from) {
        archive.failure = MSG_CANT_OPEN;
        return;
    }
    const std::string part = archive.target + ".part";
    const FileId part_id = path_id(part.c_str());
    bool part_is_input = same_file(part_id, archive.source_id);
    for (const FileId& id : protect) {
        if (same_file(archive.output_id, id)) archive.failure = MSG_SAME_AS_INPUT;
        part_is_input |= same_file(part_id, id);
    }
    if (part_is_input) archive.failure = MSG_SAME_AS_INPUT, archive.failure_path = part;
    if (!archive.failure && create_new_output(part.c_str(), &archive.part) != kCreated)
        archive.failure = MSG_CANT_CREATE, archive.failure_path = part;
    if (archive.failure) return;
    std::FILE *from = archive.from, *to = archive.part.file;
    const int64_t size = file_size(from);
    const bool flush = archive.replacing; // the bulk early: the last flush has little left
    archive.copy = std::make_unique<std::packaged_task<bool()>>([from, to, size, flush] {
        return copy_bytes(from, to, size) && (!flush || flush_to_disk(to));
    });
    archive.copied = archive.copy->get_future();
    // Where there is one processor (a browser's module without threads), or
    // the system refuses a thread, the copy is left to this one.
    try {
        if (std::thread::hardware_concurrency() > 1)
            archive.copier = std::thread([task = archive.copy.get()] { (*task)(); });
    } catch (const std::system_error&) {}
    if (!archive.copier.joinable()) (*archive.copy)();
}

// Puts the entries' new streams into the copy and renames it into place
// (removes it when no picture is left for it).  The message (of one %s) and
// its path when that fails; nullptr when the copy is in place or removed.
const char* finish_archive(Archive& archive, const std::vector<ArchiveEntry>& entries,
                           std::string* path) {
    if (archive.copier.joinable()) archive.copier.join();
    *path = archive.failure_path;
    if (archive.failure) {
        if (archive.from) std::fclose(archive.from);
        return archive.failure;
    }
    bool ok = archive.copied.get();
    // An archive that would be written over itself as it is stays as it is.
    const bool same = same_file(archive.source_id, archive.output_id) &&
                      std::all_of(archive.patches.begin(), archive.patches.end(),
                                  [](const Patch& patch) { return patch.same; });
    for (const Patch& patch : archive.patches) {
        const ArchiveEntry& entry = entries[patch.entry];
        ok = ok && (patch.same || (seek_to(archive.part.file, entry.offset) &&
                                   std::fwrite(patch.stream.data(), 1, patch.stream.size(),
                                               archive.part.file) == patch.stream.size()));
    }
    ok = ok && !same && copy_permissions(archive.from, archive.part.file) &&
         (!archive.replacing || flush_to_disk(archive.part.file));
    std::fclose(archive.from);
    const std::string part = archive.target + ".part";
    const int result = close_output(archive.part, ok ? kConvertOk : kConvertWriteError);
    if (result == kConvertOk && !archive.patches.empty() &&
        rename_file(part.c_str(), archive.target.c_str()))
        return nullptr;
    if (archive.part.regular) remove_file(part.c_str());
    if (archive.patches.empty() || same) return nullptr;
    return result == kConvertOk ? MSG_CANT_CREATE : MSG_CANT_WRITE;
}

// Where the archive at `source` is written: over itself, or into the work
// directory under its base name.
std::string output_of(const std::string& source, const Options& options) {
    if (options.work_dir.empty()) return source;
    std::string output;
    make_output_path(output, source, options.work_dir);
    return output;
}

// Locks the files that the archives of `sources` are written over (or,
// where none is there yet, read from), each once, in the order of their
// identities, which every run shares: two runs that write the same two
// archives never wait for each other.
std::vector<FileLock> lock_archives(const std::vector<std::string>& sources,
                                    const Options& options) {
    std::vector<std::pair<FileId, std::string>> files;
    for (const std::string& source : sources) {
        std::string path = link_target(output_of(source, options));
        if (!path_id(path.c_str()).known) path = source;
        files.emplace_back(path_id(path.c_str()), path);
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first.device, a.first.inode) < std::tie(b.first.device, b.first.inode);
    });
    std::vector<FileLock> locks;
    for (size_t i = 0; i < files.size(); i++) {
        FileLock lock;
        if (files[i].first.known && (i == 0 || !same_file(files[i].first, files[i - 1].first)) &&
            lock_file(files[i].second.c_str(), &lock))
            locks.push_back(lock);
    }
    return locks;
}

} // namespace

bool read_archive_entries(const Options& options, std::vector<ArchiveEntry>* entries,
                          FileId* list_id) {
    ListReader list;
    if (!open_list(options.list_file, &list)) return false;
    *list_id = list.id;
    ListLine line;
    while (next_list_line(list, &line))
        entries->push_back({options.archive_dir + line.archive_name, line.offset, line.stored_size,
                            line.entry_name});
    return true;
}

bool read_archive_entry(const ArchiveEntry& entry, std::vector<uint8_t>* stream,
                        std::vector<uint8_t>* image, FileId* id) {
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
    // Untouched, the buffers' pages cost nothing: they are not cleared first.
    Buffer bytes = allocate(entry.size), decoded = allocate(9 * entry.size);
    const bool read = bytes && decoded &&
                      std::fread(bytes.get(), 1, static_cast<size_t>(entry.size), archive) ==
                          static_cast<size_t>(entry.size);
    std::fclose(archive);
    if (!bytes || !decoded) {
        report(MSG_NO_MEMORY, entry.name.c_str());
        return false;
    }
    const int64_t length = read ? decode_stored_buffer(bytes.get(), entry.size, decoded.get()) : 0;
    stream->assign(bytes.get(), bytes.get() + (read ? entry.size : 0));
    image->assign(decoded.get(), decoded.get() + length);
    KzpImage parsed;
    if (kzp_image_parse(image->data(), static_cast<int64_t>(image->size()), &parsed) &&
        parsed.width > 0 && parsed.height > 0)
        return true;
    report(MSG_ENTRY_DAMAGED, entry.name.c_str(), entry.archive.c_str());
    return false;
}

PutBackRun put_back_pictures(const std::vector<PutBackPicture>& pictures, const Options& options,
                             bool keep) {
    PutBackRun run{false, {}, {}};
    Transcript* const before = record_output(keep ? &run.said : nullptr);
    // What is said from `mark` on of picture k: its messages.
    auto told = [&](size_t k, size_t mark) {
        for (size_t i = mark; i < run.said.size(); i++)
            if (run.said[i].first) run.results[k].messages.push_back(run.said[i].second);
    };
    for (const PutBackPicture& picture : pictures)
        run.results.push_back({picture.name, "", "", false, {}, {}, {false, {}, 0, 0, 0, 0, 0}});
    std::vector<ArchiveEntry> entries;
    FileId list_id;
    if (!read_archive_entries(options, &entries, &list_id)) {
        record_output(before);
        return run;
    }
    run.listed = true;
    std::vector<std::string> stems;
    for (const ArchiveEntry& entry : entries)
        stems.push_back(output_stem(entry.name));
    // Nothing written may be the list or a picture.
    std::vector<FileId> protect{list_id};
    for (const PutBackPicture& picture : pictures)
        if (!picture.given) protect.push_back(path_id(picture.name.c_str()));

    // Each picture's entry first: the first line of each entry with the
    // picture's stem, which must be one.  Then the archives that take them
    // are locked, before any is read.
    std::vector<std::vector<size_t>> found(pictures.size());
    std::vector<std::string> sources;
    for (size_t k = 0; k < pictures.size(); k++) {
        const std::string stem = output_stem(pictures[k].name);
        for (size_t i = 0; i < entries.size(); i++)
            if (same_stem(stems[i], stem) &&
                std::none_of(found[k].begin(), found[k].end(),
                             [&](size_t j) { return same_range(entries[i], entries[j]); }))
                found[k].push_back(i);
        if (found[k].size() == 1) sources.push_back(entries[found[k][0]].archive);
    }
    std::vector<FileLock> locks = lock_archives(sources, options);

    std::vector<std::unique_ptr<Archive>> archives;
    for (size_t k = 0; k < pictures.size(); k++) {
        const std::string& picture = pictures[k].name;
        const size_t mark = run.said.size();
        if (found[k].size() != 1) {
            if (found[k].empty())
                report(MSG_NO_ENTRY, picture.c_str());
            else
                report(MSG_MANY_ENTRIES, picture.c_str(), static_cast<int>(found[k].size()),
                       static_cast<long long>(entries[found[k][0]].offset), picture.c_str());
            told(k, mark);
            continue;
        }
        const ArchiveEntry& entry = entries[found[k][0]];
        const std::string output = output_of(entry.archive, options);
        run.results[k].entry = entry.name, run.results[k].archive = output;
        // The line waits for the message of a refusal; an accepted picture's
        // line is printed once its archive is in place.
        hold_progress(progress_line(picture, output + "/" + entry.name));
        auto archive = std::find_if(archives.begin(), archives.end(),
                                    [&](const auto& a) { return a->source == entry.archive; });
        const bool taken =
            archive != archives.end() &&
            std::any_of((*archive)->patches.begin(), (*archive)->patches.end(),
                        [&](const Patch& p) { return same_range(entries[p.entry], entry); });
        std::vector<uint8_t> target, old;
        FileId source_id;
        const FileId output_id = path_id(output.c_str());
        if (taken) {
            report(MSG_SECOND_PICTURE, picture.c_str(), entry.name.c_str(), entry.archive.c_str());
        } else if (std::any_of(entries.begin(), entries.end(),
                               [&](const ArchiveEntry& other) { return overlap(entry, other); })) {
            report(MSG_OVERLAP, entry.name.c_str(), entry.archive.c_str());
        } else if (output_id.known && is_read_only(output.c_str())) {
            report(MSG_READ_ONLY, output.c_str());
        } else if (!read_archive_entry(entry, &old, &target, &source_id)) {
        } else if (std::any_of(archives.begin(), archives.end(), [&](const auto& a) {
                       return a->source != entry.archive &&
                              (a->output == output || same_file(a->source_id, output_id) ||
                               same_file(a->output_id, source_id));
                   })) {
            report(MSG_OTHER_ARCHIVE, output.c_str());
        } else {
            // The archive's copy goes on while its pictures are packed.
            if (archive == archives.end()) {
                archives.push_back(std::make_unique<Archive>());
                Archive& a = *archives.back();
                a.source = entry.archive, a.output = output, a.target = link_target(output);
                a.source_id = source_id, a.output_id = output_id, a.replacing = output_id.known;
                start_copy(a, protect);
                archive = archives.end() - 1;
            }
            Patch patch{k, found[k][0], picture, {}, false, {}, {false, {}, 0, 0, 0, 0, 0}, {}};
            const bool packed =
                pack_into(pictures[k], entry, old, target, options, protect, &patch);
            run.results[k].mapped = patch.mapped, run.results[k].fit = patch.fit;
            run.results[k].fit.image.clear();
            if (packed) {
                (*archive)->patches.push_back(std::move(patch));
                hold_progress("");
                continue;
            }
        }
        hold_progress("");
        told(k, mark);
    }

    for (const auto& archive : archives) {
        std::string path;
        const char* failure = finish_archive(*archive, entries, &path);
        for (const Patch& patch : archive->patches) {
            const size_t mark = run.said.size();
            PutBackResult& result = run.results[patch.picture_at];
            result.back = failure == nullptr;
            say("%s",
                progress_line(patch.picture, archive->output + "/" + entries[patch.entry].name)
                    .c_str());
            if (failure) {
                report(failure, path.c_str());
            } else {
                say("OK\n");
                report_nearest(patch.picture, patch.mapped, options);
                const Fit& fit = patch.fit;
                if (fit.fitted)
                    report(MSG_FITTED, patch.picture.c_str(),
                           static_cast<long long>(entries[patch.entry].size),
                           static_cast<unsigned long long>(fit.changed),
                           static_cast<unsigned long long>(fit.edit), static_cast<double>(fit.mean),
                           static_cast<double>(fit.seen), static_cast<double>(fit.largest));
                if (!options.show_dir.empty() &&
                    !show(patch.shown, entries[patch.entry].name, options, protect))
                    result.back = false;
            }
            told(patch.picture_at, mark);
        }
    }
    for (FileLock& lock : locks)
        unlock_file(lock);
    record_output(before);
    return run;
}

int put_back(const std::vector<std::string>& pictures, const Options& options) {
    std::vector<PutBackPicture> named;
    for (const std::string& picture : pictures)
        named.push_back({picture, nullptr});
    const PutBackRun run = put_back_pictures(named, options, false);
    return run.listed && std::all_of(run.results.begin(), run.results.end(),
                                     [](const PutBackResult& r) { return r.back; });
}
