#include "saving/bmp_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "saving/bmp_writer.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bmp {

namespace {

[[noreturn]] void cannotCreate(const std::string &fileName)
{
    throw EFCreateError("Cannot create file " + fileName);
}

// A short random suffix that makes the temporary file's name unique enough;
// creation still insists on a name nobody has taken.
std::string uniqueSuffix()
{
    static std::minstd_rand generator{std::random_device{}()};
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix;
    for (int i = 0; i < 8; ++i)
        suffix += digits[generator() % 36];
    return suffix;
}

// The folder part of a path including its last separator, or "" for a bare name.
std::string folderOf(const std::string &path)
{
#ifdef _WIN32
    const std::size_t at = path.find_last_of("\\/:");
#else
    const std::size_t at = path.rfind('/');
#endif
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

} // namespace

#ifdef _WIN32

namespace {

std::wstring wide(const std::string &utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(std::size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
    return w;
}

struct TempFile {
    std::wstring path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool committed = false;
    bool close()
    {
        const bool ok = handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return ok;
    }
    ~TempFile()
    {
        close();
        if (!committed && !path.empty())
            DeleteFileW(path.c_str());
    }
};

} // namespace

std::size_t FileOutput::write(const void *data, std::size_t count)
{
    const auto *bytes = static_cast<const char *>(data);
    std::size_t stored = 0;
    while (stored < count) {
        const DWORD chunk = DWORD(std::min<std::size_t>(count - stored, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle_, bytes + stored, chunk, &written, nullptr) || written == 0)
            break;
        stored += written;
    }
    return stored;
}

void writeFile(const std::string &fileName, FunctionRef<void(ByteOutput &)> writeBytes)
{
    if (fileName.empty())
        cannotCreate(fileName);
    const std::wstring target = wide(fileName);

    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
            cannotCreate(fileName);
        const HANDLE probe = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            cannotCreate(fileName);
        CloseHandle(probe);
    }

    TempFile temp;
    const std::wstring folder = wide(folderOf(fileName));
    for (int attempt = 0; attempt < 100 && temp.handle == INVALID_HANDLE_VALUE; ++attempt) {
        temp.path = folder + L"~" + wide(uniqueSuffix()) + L".tmp";
        temp.handle = CreateFileW(temp.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (temp.handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            temp.path.clear();
            cannotCreate(fileName);
        }
    }
    if (temp.handle == INVALID_HANDLE_VALUE) {
        temp.path.clear();
        cannotCreate(fileName);
    }

    FileOutput output(temp.handle);
    writeBytes(output);
    // As on Linux: the bytes reach the disk before the name moves over to
    // them, and the rename itself is written through before it reports.
    if (!FlushFileBuffers(temp.handle) || !temp.close())
        throw EWriteError();
    if (!MoveFileExW(temp.path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        cannotCreate(fileName);
    temp.committed = true;
}

#else

namespace {

struct TempFile {
    std::string path;
    int fd = -1;
    bool committed = false;
    bool close()
    {
        const int fd0 = fd;
        fd = -1;
        return fd0 < 0 || ::close(fd0) == 0;
    }
    ~TempFile()
    {
        close();
        if (!committed && !path.empty())
            ::unlink(path.c_str());
    }
};

// Where a chain of symbolic links ends: the name itself when it is no link,
// else the last name the chain reaches, whether a file of that name exists
// or not (each relative link read from its own folder). A chain that loops
// or cannot be read leaves the name as it is; the save then fails on it.
std::string linkTarget(const std::string &fileName)
{
    std::string target = fileName;
    struct stat info;
    for (int hop = 0; hop < 40; ++hop) {
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return target;
        std::string link(std::size_t(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || std::size_t(n) >= link.size())
            return fileName;
        link.resize(std::size_t(n));
        target = link.front() == '/' ? link : folderOf(target) + link;
    }
    return fileName;
}

} // namespace

std::size_t FileOutput::write(const void *data, std::size_t count)
{
    const auto *bytes = static_cast<const char *>(data);
    std::size_t stored = 0;
    while (stored < count) {
        const ssize_t n = ::write(fd_, bytes + stored, count - stored);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        stored += std::size_t(n);
    }
    return stored;
}

void writeFile(const std::string &fileName, FunctionRef<void(ByteOutput &)> writeBytes)
{
    if (fileName.empty())
        cannotCreate(fileName);

    // A symbolic link keeps pointing where it did; the file it points to is
    // the one replaced, or made when the link dangles.
    const std::string target = linkTarget(fileName);
    struct stat info;

    // An existing target must be a plain file that we may write: replacing a
    // read-only file, a folder or a device by a rename would go around what
    // the name's owner allowed.
    bool exists = false;
    mode_t mode = 0666;
    if (::stat(target.c_str(), &info) == 0) {
        exists = true;
        if (!S_ISREG(info.st_mode))
            cannotCreate(fileName);
        const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (probe < 0)
            cannotCreate(fileName);
        ::close(probe);
        mode = info.st_mode & 07777;
    } else if (errno != ENOENT) {
        cannotCreate(fileName);
    }

    TempFile temp;
    const std::string folder = folderOf(target);
    for (int attempt = 0; attempt < 100 && temp.fd < 0; ++attempt) {
        temp.path = folder + ".~" + uniqueSuffix() + ".tmp";
        temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (temp.fd < 0 && errno != EEXIST) {
            temp.path.clear();
            cannotCreate(fileName);
        }
    }
    if (temp.fd < 0) {
        temp.path.clear();
        cannotCreate(fileName);
    }
    // The replacement keeps the permissions of the file it replaces.
    if (exists)
        ::fchmod(temp.fd, mode);

    FileOutput output(temp.fd);
    writeBytes(output);
    // The bytes reach the disk before the name moves over to them, so that a
    // power cut right after a save leaves the old file or the new one, never
    // a short one. A failure the system reports only now or when the file is
    // closed (a network file system's full disk) is a failed write too.
    if (::fsync(temp.fd) != 0 || !temp.close())
        throw EWriteError();
    if (::rename(temp.path.c_str(), target.c_str()) != 0)
        cannotCreate(fileName);
    temp.committed = true;
}

#endif

void saveToFile(const TBitmap &bitmap, DibDescription &dib, const std::string &fileName)
{
    // Converting first: if that fails, no file has been touched.
    convert(bitmap, dib);
    writeFile(fileName, [&](ByteOutput &output) { saveToStream(bitmap, dib, output); });
}

} // namespace bmp
