// quorbin._quorbin: the library for Python (pybind11).  Pictures decoded from
// and encoded into KZP streams, list files and archive entries read, pictures
// put back into archives; what fails raises the exceptions of the package
// quorbin with the programs' messages.  The GIL is released while the library
// works.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>

#include "files.h"
#include "kzp/kzp.h"
#include "lzss/lzss.h"
#include "putback.h"

namespace py = pybind11;

namespace {

// A decoded KZP image: its bytes in the decoded layout, parsed.
struct Image {
    std::vector<uint8_t> bytes;
    KzpImage parsed;
};

// Raises the package's exception of `kind` with the messages said.
[[noreturn]] void fail(const char* kind, const Transcript& said) {
    std::string text;
    for (const auto& [to_error, piece] : said)
        if (to_error) text += piece;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    PyErr_SetString(py::module_::import("quorbin").attr(kind).ptr(), text.c_str());
    throw py::error_already_set();
}

Image parsed(std::vector<uint8_t> bytes, const char* kind, const char* what) {
    Image image{std::move(bytes), {}};
    if (!kzp_image_parse(image.bytes.data(), static_cast<int64_t>(image.bytes.size()),
                         &image.parsed) ||
        image.parsed.width <= 0 || image.parsed.height <= 0)
        fail(kind, {{true, what}});
    return image;
}

Image decode(py::bytes data) {
    const std::string_view stream = data;
    std::vector<uint8_t> out;
    {
        py::gil_scoped_release free;
        // Room for nine bytes a byte, its pages untouched until written.
        Buffer room = allocate(9 * static_cast<int64_t>(stream.size()));
        if (room)
            out.assign(room.get(),
                       room.get() +
                           decode_stored_buffer(reinterpret_cast<const uint8_t*>(stream.data()),
                                                static_cast<int64_t>(stream.size()), room.get()));
    }
    return parsed(std::move(out), "Error", "the data does not decode to a picture");
}

// A picture from its parts: width, height, pixels (width x height bytes), the
// palette (256 colours of red, green and blue) and the bytes in front of the
// pixels.
Image make(int32_t width, int32_t height, py::buffer pixels, py::bytes palette, py::bytes lead) {
    const py::buffer_info info = pixels.request();
    const std::string_view colours = palette, front = lead;
    if (width <= 0 || height <= 0 ||
        static_cast<size_t>(info.size * info.itemsize) !=
            static_cast<size_t>(width) * static_cast<size_t>(height) ||
        colours.size() != 768)
        throw py::value_error("a picture is width x height pixels of one byte and a palette of "
                              "768 bytes (256 colours of red, green and blue)");
    uint8_t quads[1024] = {};
    for (int i = 0; i < 256; i++)
        std::memcpy(quads + 4 * i, colours.data() + 3 * i, 3);
    std::vector<uint8_t> bytes(front.begin(), front.end());
    const std::vector<uint8_t> rest =
        kzp_image_bytes(width, height, static_cast<const uint8_t*>(info.ptr), quads);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return parsed(std::move(bytes), "Error", "no picture");
}

py::bytes encode(const Image& image, std::optional<uint64_t> size) {
    std::vector<uint8_t> stream;
    int result;
    {
        py::gil_scoped_release free;
        LzssEncodeOptions options;
        options.target_size = size.value_or(0);
        result = lzss_encode_into(image.bytes.data(), image.bytes.size(), &stream, options);
    }
    if (result == kLzssTooLarge)
        throw py::value_error("the picture needs " + std::to_string(stream.size()) +
                              " bytes, more than " + std::to_string(*size));
    if (result == kLzssUnreachable)
        throw py::value_error("no choice of literals and references makes exactly " +
                              std::to_string(*size) + " bytes of the picture");
    return py::bytes(reinterpret_cast<const char*>(stream.data()), stream.size());
}

Options list_options(const std::string& list, const std::optional<std::string>& archive_dir) {
    Options options;
    options.has_list_file = true;
    options.list_file = list;
    options.archive_dir = archive_dir.value_or("");
    return options;
}

// The entries of a list file: (archive path, offset, size, name) each.
std::vector<std::tuple<std::string, int64_t, int64_t, std::string>>
entries(const std::string& list, const std::optional<std::string>& archive_dir) {
    Transcript said;
    std::vector<ArchiveEntry> read;
    bool ok;
    {
        py::gil_scoped_release free;
        Transcript* const before = record_output(&said);
        FileId id;
        ok = read_archive_entries(list_options(list, archive_dir), &read, &id);
        record_output(before);
    }
    if (!ok) fail("ListError", said);
    std::vector<std::tuple<std::string, int64_t, int64_t, std::string>> out;
    for (const ArchiveEntry& entry : read)
        out.emplace_back(entry.archive, entry.offset, entry.size, entry.name);
    return out;
}

Image entry_image(const std::string& archive, int64_t offset, int64_t size,
                  const std::string& name) {
    Transcript said;
    std::vector<uint8_t> stream, image;
    bool ok;
    {
        py::gil_scoped_release free;
        Transcript* const before = record_output(&said);
        FileId id;
        ok = read_archive_entry({archive, offset, size, name}, &stream, &image, &id);
        record_output(before);
    }
    if (!ok) fail("EntryError", said);
    return parsed(std::move(image), "EntryError", "no picture");
}

// Puts pictures back: each (name, path) or (name, width, height, mode, data, palette), mode "P"
// (indices and 768 bytes of palette), "L" (grey levels) or "RGB" (3 bytes a pixel).
py::tuple put_pictures_back(const std::string& list, const std::optional<std::string>& archive_dir,
                            const std::optional<std::string>& work_dir, py::list pictures,
                            bool nearest, bool dither, bool fit, bool accept) {
    Options options = list_options(list, archive_dir);
    options.work_dir = work_dir.value_or("");
    options.nearest = nearest || dither, options.dither = dither;
    options.fit = fit || accept, options.accept = accept;
    std::vector<Picture> given;
    std::vector<PutBackPicture> wanted;
    given.reserve(pictures.size());
    for (py::handle item : pictures) {
        const py::tuple parts = py::reinterpret_borrow<py::tuple>(item);
        const std::string name = parts[0].cast<std::string>();
        if (parts.size() == 2) {
            wanted.push_back({parts[1].cast<std::string>(), nullptr});
            continue;
        }
        const int32_t width = parts[1].cast<int32_t>(), height = parts[2].cast<int32_t>();
        const std::string mode = parts[3].cast<std::string>(), data = parts[4].cast<std::string>();
        Picture picture{mode == "RGB", {}, {width, height, {}}, width, height};
        if (picture.true_colour) {
            picture.colours.rgb.assign(data.begin(), data.end());
        } else {
            std::string palette(768, '\0');
            for (int i = 0; i < 256; i++)
                palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = static_cast<char>(i);
            if (mode == "P") palette = parts[5].cast<std::string>();
            picture.image =
                make(width, height, py::bytes(data), py::bytes(palette), py::bytes()).bytes;
        }
        given.push_back(std::move(picture));
        wanted.push_back({name, &given.back()});
    }
    PutBackRun run;
    {
        py::gil_scoped_release free;
        run = put_back_pictures(wanted, options, true);
    }
    if (!run.listed) fail("ListError", run.said);
    py::list results;
    for (const PutBackResult& r : run.results) {
        py::dict result;
        result["picture"] = r.picture, result["entry"] = r.entry, result["archive"] = r.archive;
        result["back"] = r.back, result["messages"] = r.messages;
        result["nearest"] = r.mapped.pixels;
        if (r.fit.fitted)
            result["fit"] =
                py::dict(py::arg("edit") = r.fit.edit, py::arg("changed") = r.fit.changed,
                         py::arg("mean") = r.fit.mean, py::arg("seen") = r.fit.seen,
                         py::arg("largest") = r.fit.largest);
        results.append(result);
    }
    std::string said;
    for (const auto& [to_error, piece] : run.said)
        said += piece;
    return py::make_tuple(results, said);
}

} // namespace

PYBIND11_MODULE(_quorbin, m) {
    m.doc() = "KZP images, list files and archives: quorbin's library";
    py::class_<Image>(m, "Picture", py::buffer_protocol(),
                      "A decoded KZP image: width, height, palette (768 bytes), pixels (a "
                      "buffer, top row first) and the bytes in front of them (lead)")
        .def(py::init(&make), py::arg("width"), py::arg("height"), py::arg("pixels"),
             py::arg("palette"), py::arg("lead") = py::bytes())
        .def_property_readonly("width", [](const Image& i) { return i.parsed.width; })
        .def_property_readonly("height", [](const Image& i) { return i.parsed.height; })
        .def_property_readonly("palette",
                               [](const Image& i) {
                                   std::string rgb(768, '\0');
                                   for (int c = 0; c < 256; c++)
                                       std::memcpy(&rgb[3 * c], i.parsed.palette + 4 * c, 3);
                                   return py::bytes(rgb);
                               })
        .def_property_readonly("lead",
                               [](const Image& i) {
                                   return py::bytes(
                                       reinterpret_cast<const char*>(i.bytes.data()),
                                       static_cast<size_t>(i.parsed.pixels - i.bytes.data()));
                               })
        .def_property_readonly("pixels", [](py::object self) { return py::memoryview(self); })
        .def_buffer([](Image& i) {
            return py::buffer_info(
                const_cast<uint8_t*>(i.parsed.pixels), 1, py::format_descriptor<uint8_t>::format(),
                1, {static_cast<py::ssize_t>(i.parsed.width) * i.parsed.height}, {1}, true);
        });
    m.def("decode", &decode, py::arg("data"), "The picture a KZP stream decodes to.");
    m.def("encode", &encode, py::arg("picture"), py::arg("size") = py::none(),
          "The smallest KZP stream of a picture, or one of exactly `size` bytes.");
    m.def("_entries", &entries);
    m.def("_entry_image", &entry_image);
    m.def("_put_back", &put_pictures_back);
}
