#pragma once

// Saving a picture bitmap as a BMP file on disk.

#include <cstddef>
#include <string>

#include "canvas/function_ref.h"
#include "saving/byte_output.h"

class TBitmap;

namespace bmp {

struct DibDescription;

// Saves the bitmap as a BMP file named `fileName` (UTF-8, as the user gave it),
// replacing a file of that name without asking. `dib` keeps the converted
// image from one save to the next (see bmp::convert). The save is all or nothing:
//  - the picture is converted first, so a conversion failure touches no file;
//  - the bytes go into a new temporary file beside the target, which is
//    renamed over the target only once every byte is written, flushed to
//    the disk and the file is closed without an error (on Windows the
//    rename is written through as well);
//  - on any failure the temporary file is removed and an existing target is
//    left exactly as it was; the file in progress is closed in every case.
// On Linux a name that refers to a symbolic link saves to the file it
// points to (and the replacement keeps that file's permissions).
//
// Errors: EFCreateError "Cannot create file <fileName>" when the target cannot
// be created or replaced (missing folder, no permission, an existing target
// that may not be written, a folder or device of that name); EWriteError
// "Stream write error" when a write stores fewer bytes than asked or closing
// the file reports a failure; EInvalidGraphic / EOutOfResources from the conversion
// (see bmp::convert).
void saveToFile(const TBitmap &bitmap, DibDescription &dib, const std::string &fileName);

// The file output under saveToFile: replaces the file `fileName` all or
// nothing with the bytes `writeBytes` puts out, with the same rules and
// errors. An exception from `writeBytes` removes the temporary file and
// passes on.
void writeFile(const std::string &fileName, FunctionRef<void(ByteOutput &)> writeBytes);

// The output over an open file: writes until the whole block is stored or the
// system refuses, and reports how much it stored. Exposed for tests.
class FileOutput : public ByteOutput {
public:
#ifdef _WIN32
    explicit FileOutput(void *handle) : handle_(handle) {}
#else
    explicit FileOutput(int fd) : fd_(fd) {}
#endif
    std::size_t write(const void *data, std::size_t count) override;

private:
#ifdef _WIN32
    void *handle_;
#else
    int fd_;
#endif
};

} // namespace bmp
