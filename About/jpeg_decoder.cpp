#include "About/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h> // after <cstdio>: it needs FILE and size_t

#include "canvas/errors.h"

namespace about {

namespace {

// libjpeg's own error handler ends the process. This one jumps back to the
// setjmp of the step that was running, with the message kept.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Level -1 is a warning: damaged data, or a stream that ended before its
// picture did. libjpeg would go on with invented pixels; a logo that is not
// what was stored is a failure. Trace messages (levels 0 and up) are dropped.
void onMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        onError(cinfo);
}

// Everything libjpeg needs, in plain C objects only: longjmp skips no C++
// destructor. The steps below are separate functions, each with its own
// setjmp, and hold no C++ objects either.
struct Decompressor {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    bool created;
};

bool startDecompressor(Decompressor &d, const std::uint8_t *data, std::size_t size)
{
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = onError;
    d.err.pub.emit_message = onMessage;
    d.err.message[0] = '\0';
    if (setjmp(d.err.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    return true;
}

bool decodeAllRows(Decompressor &d, std::uint8_t *out, std::size_t stride)
{
    if (setjmp(d.err.jump))
        return false;
    d.cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.cinfo);
    if (d.cinfo.output_components != 3) {
        std::snprintf(d.err.message, sizeof d.err.message, "Unsupported JPEG colour layout");
        return false;
    }
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = out + std::size_t(d.cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

// Owns one decompressor for the length of a call.
class Session {
public:
    Session() : d_{} {}
    ~Session()
    {
        if (d_.created)
            jpeg_destroy_decompress(&d_.cinfo);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    void start(std::span<const std::uint8_t> data)
    {
        if (!startDecompressor(d_, data.data(), data.size()))
            fail();
    }
    void decodeRows(std::uint8_t *out, std::size_t stride)
    {
        if (!decodeAllRows(d_, out, stride))
            fail();
    }
    const jpeg_decompress_struct &info() const { return d_.cinfo; }

private:
    [[noreturn]] void fail() const
    {
        const std::string message = d_.err.message[0] ? d_.err.message : "Invalid JPEG image";
        throw EInvalidGraphic(message);
    }
    Decompressor d_;
};

} // namespace

JpegInfo readJpegInfo(std::span<const std::uint8_t> data)
{
    Session session;
    session.start(data);
    const jpeg_decompress_struct &c = session.info();
    JpegInfo info;
    info.width = int(c.image_width);
    info.height = int(c.image_height);
    info.components = c.num_components;
    info.ycbcr = c.jpeg_color_space == JCS_YCbCr;
    info.fullChroma = true;
    for (int i = 0; i < c.num_components; ++i)
        if (c.comp_info[i].h_samp_factor != 1 || c.comp_info[i].v_samp_factor != 1)
            info.fullChroma = false;
    info.progressive = c.progressive_mode;
    info.arithmetic = c.arith_code;
    info.precision = c.data_precision;
    info.jfif = c.saw_JFIF_marker;
    if (info.jfif) {
        info.jfifMajor = c.JFIF_major_version;
        info.jfifMinor = c.JFIF_minor_version;
        info.densityUnit = c.density_unit;
        info.xDensity = c.X_density;
        info.yDensity = c.Y_density;
    }
    return info;
}

RgbImage decodeJpeg(std::span<const std::uint8_t> data, std::size_t maxPixels)
{
    Session session;
    session.start(data);
    const std::size_t width = session.info().image_width, height = session.info().image_height;
    if (width == 0 || height == 0 || width > maxPixels / height)
        throw EInvalidGraphic("JPEG image is too large");
    RgbImage image;
    image.width = int(width);
    image.height = int(height);
    image.pixels.resize(width * height * 3);
    session.decodeRows(image.pixels.data(), width * 3);
    return image;
}

} // namespace about
