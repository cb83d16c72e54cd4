#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "saving/bmp_file.h"
#include "saving/bmp_writer.h"
#include "saving/tests/bmp_reader.h"

namespace fs = std::filesystem;

namespace {

// File names go to saveToFile as UTF-8 on every system; std::filesystem's
// narrow strings are the ANSI code page on Windows, so the tests convert.
fs::path fromUtf8(const std::string &name) { return fs::path(std::u8string(name.begin(), name.end())); }
std::string toUtf8(const fs::path &p)
{
    const std::u8string name = p.u8string();
    return std::string(name.begin(), name.end());
}

class BmpFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device seed;
        dir = fs::temp_directory_path() / ("skarvel-save-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        fs::create_directories(dir);
        picture.SetSize(31, 17);
        picture.Canvas().Pen().SetColor(makeColorRef(10, 200, 30));
        picture.Canvas().Pen().SetWidth(3);
        picture.Canvas().MoveTo(2, 2);
        picture.Canvas().LineTo(28, 14);
    }
    void TearDown() override
    {
        // Windows deletes no read-only file.
        for (const auto &e : fs::recursive_directory_iterator(dir))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
        fs::remove_all(dir);
    }

    std::string path(const std::string &name) const { return toUtf8(dir / fromUtf8(name)); }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir))
            names.push_back(toUtf8(e.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }
    static void writeText(const std::string &p, const std::string &text)
    {
        std::ofstream(fromUtf8(p), std::ios::binary) << text;
    }
    static std::vector<std::uint8_t> readBytes(const std::string &p) { return testbmp::readFile(fromUtf8(p)); }
    static std::string readText(const std::string &p)
    {
        const std::vector<std::uint8_t> b = readBytes(p);
        return std::string(b.begin(), b.end());
    }

    fs::path dir;
    TBitmap picture{PixelFormat::pf32bit};
    bmp::DibDescription converted;
};

// Passes the first `room` bytes on to the file and then stores nothing more,
// as a disk that fills up during the save.
class RoomFor : public ByteOutput {
public:
    RoomFor(ByteOutput &file, std::size_t room) : file_(file), room_(room) {}
    std::size_t write(const void *data, std::size_t count) override
    {
        const std::size_t stored = file_.write(data, std::min(count, room_));
        room_ -= stored;
        return stored;
    }

private:
    ByteOutput &file_;
    std::size_t room_;
};

// Whether a file without write permission stays closed to us: it does on
// Windows (the read-only attribute) and for everyone on Linux but root.
bool readOnlyFilesAreRefused()
{
#ifdef _WIN32
    return true;
#else
    return ::geteuid() != 0;
#endif
}

#ifndef _WIN32
// Makes every write beyond `bytes` into any file of this process fail, as a
// full disk does; SIGXFSZ is ignored so that the write reports the failure.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int);
};
#endif

} // namespace

TEST_F(BmpFile, WritesTheEncodedPictureAndReplacesAnExistingFile)
{
    const std::string target = path("desk.bmp");
    writeText(target, "an older, longer file that must be replaced entirely............................");
    bmp::saveToFile(picture, converted, target);

    const std::vector<std::uint8_t> written = readBytes(target);
    EXPECT_EQ(written, bmp::encode(picture));
    const testbmp::Parsed parsed = testbmp::parse(written);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.at(15, 8), makeColorRef(10, 200, 30));
    EXPECT_EQ(entries(), std::vector<std::string>{"desk.bmp"}) << "a temporary file was left behind";
}

TEST_F(BmpFile, CyrillicNamesAndSpacesWork)
{
    const std::string target = path("Мой рисунок 1.bmp");
    bmp::saveToFile(picture, converted, target);
    EXPECT_EQ(readBytes(target), bmp::encode(picture));
}

TEST_F(BmpFile, MissingFolderRaisesCannotCreateFileWithTheFullName)
{
    const std::string target = path("нет такой папки") + "/x.bmp";
    try {
        bmp::saveToFile(picture, converted, target);
        FAIL() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + target);
    }
    EXPECT_TRUE(entries().empty());
}

TEST_F(BmpFile, TargetsThatMayNotBeReplacedAreRefusedAndLeftAlone)
{
    // A folder of that name.
    const std::string folder = path("folder.bmp");
    fs::create_directory(folder);
    writeText(folder + "/inside", "kept");
    EXPECT_THROW(bmp::saveToFile(picture, converted, folder), EFCreateError);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(readText(folder + "/inside"), "kept");

    // A read-only file (root may write anything on Linux).
    if (readOnlyFilesAreRefused()) {
        const std::string locked = path("locked.bmp");
        writeText(locked, "read only");
        fs::permissions(locked, fs::perms::owner_read);
        try {
            bmp::saveToFile(picture, converted, locked);
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError &e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + locked);
        }
        EXPECT_EQ(readText(locked), "read only");
    }
    EXPECT_EQ(entries().size(), readOnlyFilesAreRefused() ? 2u : 1u) << "a temporary file was left behind";
}

TEST_F(BmpFile, FailedWriteLeavesTheExistingFileUntouchedAndNoPartialFile)
{
    const std::string target = path("desk.bmp");
    writeText(target, "the previous picture");
    const std::string fresh = path("new.bmp");
    // The disk fills up after 1000 bytes; the picture needs 2162.
    const auto fillsUp = [&](ByteOutput &file) {
        RoomFor disk(file, 1000);
        bmp::saveToStream(picture, converted, disk);
    };
    try {
        bmp::writeFile(target, fillsUp);
        ADD_FAILURE() << "no error";
    } catch (const EWriteError &e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
    EXPECT_THROW(bmp::writeFile(fresh, fillsUp), EWriteError);
#ifndef _WIN32
    {
        // The same refused by the system itself.
        FileSizeLimit limit(1000);
        EXPECT_THROW(bmp::saveToFile(picture, converted, target), EWriteError);
        EXPECT_THROW(bmp::saveToFile(picture, converted, fresh), EWriteError);
    }
#endif
    EXPECT_EQ(readText(target), "the previous picture");
    EXPECT_EQ(entries(), std::vector<std::string>{"desk.bmp"});

    // Without the limit the same save goes through.
    bmp::saveToFile(picture, converted, target);
    EXPECT_EQ(readBytes(target), bmp::encode(picture));
}

TEST_F(BmpFile, PictureWithoutPixelsCreatesNoFile)
{
    TBitmap empty(PixelFormat::pf32bit);
    const std::string target = path("empty.bmp");
    writeText(target, "kept");
    EXPECT_THROW(bmp::saveToFile(empty, converted, target), EInvalidGraphic);
    EXPECT_THROW(bmp::saveToFile(empty, converted, path("none.bmp")), EInvalidGraphic);
    EXPECT_EQ(readText(target), "kept");
    EXPECT_EQ(entries(), std::vector<std::string>{"empty.bmp"});
}

TEST_F(BmpFile, ReplacementKeepsPermissionsAndSymbolicLinks)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows files carry no POSIX permissions, and making a symbolic link needs a privilege there; "
                    "the read-only attribute is checked by TargetsThatMayNotBeReplacedAreRefusedAndLeftAlone";
#endif
    const std::string target = path("shared.bmp");
    writeText(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string link = path("link.bmp");
    fs::create_symlink(target, link);

    bmp::saveToFile(picture, converted, link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readBytes(target), bmp::encode(picture));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(BmpFile, FileOutputReportsWhatItStored)
{
    const std::string target = path("raw");
    std::vector<char> block(3000, 'x');
#ifdef _WIN32
    // A handle that may only read stores nothing and says so.
    writeText(target, "");
    const std::wstring wide = fromUtf8(target).wstring();
    const int readOnly = _wopen(wide.c_str(), _O_RDONLY | _O_BINARY);
    ASSERT_GE(readOnly, 0);
    EXPECT_EQ(bmp::FileOutput(reinterpret_cast<void *>(_get_osfhandle(readOnly))).write(block.data(), block.size()), 0u);
    _close(readOnly);
    const int writable = _wopen(wide.c_str(), _O_WRONLY | _O_BINARY);
    ASSERT_GE(writable, 0);
    EXPECT_EQ(bmp::FileOutput(reinterpret_cast<void *>(_get_osfhandle(writable))).write(block.data(), block.size()), 3000u);
    _close(writable);
    EXPECT_EQ(fs::file_size(fromUtf8(target)), 3000u);
#else
    std::FILE *f = std::fopen(target.c_str(), "wb");
    ASSERT_TRUE(f);
    bmp::FileOutput out(::fileno(f));
    {
        FileSizeLimit limit(1000);
        EXPECT_EQ(out.write(block.data(), block.size()), 1000u);
    }
    EXPECT_EQ(out.write(block.data(), 10), 10u);
    std::fclose(f);
    EXPECT_EQ(fs::file_size(target), 1010u);
#endif
}
