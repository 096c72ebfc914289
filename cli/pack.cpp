#include "pack.h"

#include "files.h"
#include "job.h"
#include "lzss/lzss.h"
#include "messages.h"

int pack_file(const std::string& path, const Options& options, const std::vector<uint8_t>* palette,
              const FileId* palette_id) {
    std::string output_path;
    std::FILE* input = start_job(path, options, "kzp", output_path);
    if (!input) return 0;
    const FileId protect[2] = {file_id_of(input), palette_id ? *palette_id : FileId{0, 0, false}};
    Buffer bytes;
    const int64_t size = read_whole(input, bytes);
    std::fclose(input);
    Picture picture;
    if (size < 0) {
        report(MSG_NO_MEMORY, output_path.c_str());
        return 0;
    }
    if (!read_picture(path.c_str(), bytes.get(), static_cast<size_t>(size), palette != nullptr,
                      &picture))
        return 0;
    bytes.reset();
    std::vector<uint8_t> image;
    KzpUnmapped mapped{};
    if (palette) {
        KzpImage target;
        kzp_image_parse(palette->data(), static_cast<int64_t>(palette->size()), &target);
        const bool same = target.width == picture.width && target.height == picture.height;
        const std::vector<uint8_t> fresh =
            same ? *palette
                 : kzp_image_bytes(picture.width, picture.height,
                                   std::vector<uint8_t>(static_cast<size_t>(picture.width) *
                                                        static_cast<size_t>(picture.height))
                                       .data(),
                                   target.palette);
        if (!map_picture(path, fresh, picture, options, &image, &mapped)) return 0;
    } else {
        image = std::move(picture.image);
    }
    const std::vector<uint8_t> stream = lzss_encode(image);
    OutputFile out;
    if (!open_part(output_path, protect, 2, &out)) return 0;
    const bool written = std::fwrite(stream.data(), 1, stream.size(), out.file) == stream.size();
    if (!finish_part(output_path, out, written ? kConvertOk : kConvertWriteError)) return 0;
    say("OK\n");
    report_nearest(path, mapped, options);
    return 1;
}
