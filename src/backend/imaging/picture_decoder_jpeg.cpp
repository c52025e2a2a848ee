#include "backend/imaging/picture_decoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

// jpeglib.h first: its configuration decides which messages jerror.h declares.
#include <jpeglib.h>

#include <jerror.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Everything libjpeg writes to while a decode may still jump back lives here, outside the
// frame that calls setjmp, so no local of that frame is read after a jump.
struct Session {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
};

[[noreturn]] void failDecode(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// libjpeg reports damaged coded data as a warning and carries on with grey or repeated
// blocks. A texture made from that would be silently wrong, so those warnings end the decode;
// warnings about metadata (an unknown JFIF revision, a bad thumbnail) leave the pixels intact
// and are ignored.
void onMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    switch (cinfo->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_NOT_SEQUENTIAL:
            failDecode(cinfo);
        default:
            break;
    }
}

void discardMessage(j_common_ptr) {}

bool decodeJpeg(Session* s, const unsigned char* data, size_t size, unsigned maxSide, Picture* pic,
                std::string* error) {
    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = failDecode;
    s->err.pub.emit_message = onMessage;
    s->err.pub.output_message = discardMessage;
    s->err.message[0] = '\0';
    if (setjmp(s->err.jump)) {
        jpeg_destroy_decompress(&s->cinfo);
        *error = s->err.message;
        pic->samples.clear();
        return false;
    }
    jpeg_create_decompress(&s->cinfo);
    jpeg_mem_src(&s->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&s->cinfo, TRUE);

    j_decompress_ptr cinfo = &s->cinfo;
    if (cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(cinfo);
        *error = "CMYK pictures are not supported";
        return false;
    }
    if (cinfo->image_width > maxSide || cinfo->image_height > maxSide) {
        char text[128];
        std::snprintf(text, sizeof text, "picture of %ux%u is too large for a texture",
                      static_cast<unsigned>(cinfo->image_width),
                      static_cast<unsigned>(cinfo->image_height));
        jpeg_destroy_decompress(cinfo);
        *error = text;
        return false;
    }
    const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE && cinfo->num_components == 1;
    cinfo->out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;

    jpeg_start_decompress(cinfo);
    pic->width = cinfo->output_width;
    pic->height = cinfo->output_height;
    pic->components = static_cast<unsigned>(cinfo->output_components);
    const size_t stride = static_cast<size_t>(pic->width) * pic->components;
    pic->samples.assign(stride * pic->height, 0);
    JSAMPROW rows[16];
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION first = cinfo->output_scanline;
        const JDIMENSION n = std::min<JDIMENSION>(16, cinfo->output_height - first);
        for (JDIMENSION r = 0; r < n; ++r) rows[r] = pic->samples.data() + (first + r) * stride;
        if (jpeg_read_scanlines(cinfo, rows, n) == 0) {
            // Only a suspending source returns no rows; the memory source never suspends.
            jpeg_destroy_decompress(cinfo);
            *error = "decoder returned no rows";
            pic->samples.clear();
            return false;
        }
    }
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return true;
}

}  // namespace

bool decodePicture(const unsigned char* data, size_t size, unsigned maxSide, Picture* out,
                   std::string* error) {
    Session session{};
    return decodeJpeg(&session, data, size, maxSide, out, error);
}
