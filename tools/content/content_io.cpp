#include "content/content_io.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace content {

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void throwJpegError(j_common_ptr info) {
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    throw std::runtime_error(std::string("JPEG encoder: ") + error->message);
}

}  // namespace

std::vector<uint8_t> encodeJpeg(const RgbImage& image, int quality) {
    if (image.channels != 3 || image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != size_t(image.width) * image.height * 3)
        throw std::runtime_error("JPEG encoder: the picture is not a whole RGB image");
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = throwJpegError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> bytes;
    try {
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = JDIMENSION(image.width);
        info.image_height = JDIMENSION(image.height);
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, quality, TRUE);
        info.dct_method = JDCT_ISLOW;
        info.optimize_coding = TRUE;
        // Full-resolution chroma: the brushes and the paper are nearly grey, and halving the
        // chroma of fine fibres only adds coloured fringes.
        for (int c = 0; c < 3; ++c) {
            info.comp_info[c].h_samp_factor = 1;
            info.comp_info[c].v_samp_factor = 1;
        }
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() +
                                                size_t(info.next_scanline) * image.width * 3);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        bytes.assign(buffer, buffer + size);
    } catch (...) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        throw;
    }
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

bool makeDirectories(const std::string& dir, std::string* error) {
    std::string partial;
    size_t start = 0;
    while (start <= dir.size()) {
        size_t slash = dir.find('/', start);
        if (slash == std::string::npos) slash = dir.size();
        partial = dir.substr(0, slash);
        start = slash + 1;
        if (partial.empty()) continue;
        struct stat info;
        if (stat(partial.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                *error = partial + ": not a folder";
                return false;
            }
            continue;
        }
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            *error = partial + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string* error) {
    const std::string temporary = path + ".part";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = bytes.empty() || std::fwrite(bytes.data(), bytes.size(), 1, file) == 1;
    const int savedErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        *error = path + ": " + std::strerror(written ? errno : savedErrno);
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace content
