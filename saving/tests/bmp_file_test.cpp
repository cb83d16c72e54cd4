#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "saving/bmp_file.h"
#include "saving/bmp_writer.h"
#include "saving/tests/bmp_reader.h"

namespace fs = std::filesystem;

namespace {

class BmpFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device seed;
        dir = fs::temp_directory_path() / ("skarvel-save-" + std::to_string(::getpid()) + "-" + std::to_string(seed()));
        fs::create_directories(dir);
        picture.SetSize(31, 17);
        picture.Canvas().Pen().SetColor(makeColorRef(10, 200, 30));
        picture.Canvas().Pen().SetWidth(3);
        picture.Canvas().MoveTo(2, 2);
        picture.Canvas().LineTo(28, 14);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string &name) const { return (dir / name).string(); }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static void writeText(const std::string &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }
    static std::string readText(const std::string &p)
    {
        const std::vector<std::uint8_t> b = testbmp::readFile(p);
        return std::string(b.begin(), b.end());
    }

    fs::path dir;
    TBitmap picture{PixelFormat::pf32bit};
    bmp::DibDescription converted;
};

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

} // namespace

TEST_F(BmpFile, WritesTheEncodedPictureAndReplacesAnExistingFile)
{
    const std::string target = path("desk.bmp");
    writeText(target, "an older, longer file that must be replaced entirely............................");
    bmp::saveToFile(picture, converted, target);

    const std::vector<std::uint8_t> written = testbmp::readFile(target);
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
    EXPECT_EQ(testbmp::readFile(target), bmp::encode(picture));
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

    // A read-only file (root may write anything, so only checked for others).
    if (::geteuid() != 0) {
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
    EXPECT_EQ(entries().size(), ::geteuid() != 0 ? 2u : 1u) << "a temporary file was left behind";
}

TEST_F(BmpFile, FailedWriteLeavesTheExistingFileUntouchedAndNoPartialFile)
{
    const std::string target = path("desk.bmp");
    writeText(target, "the previous picture");
    const std::string fresh = path("new.bmp");
    {
        FileSizeLimit limit(1000); // the picture needs 2162 bytes
        try {
            bmp::saveToFile(picture, converted, target);
            ADD_FAILURE() << "no error";
        } catch (const EWriteError &e) {
            EXPECT_STREQ(e.what(), "Stream write error");
        }
        EXPECT_THROW(bmp::saveToFile(picture, converted, fresh), EWriteError);
    }
    EXPECT_EQ(readText(target), "the previous picture");
    EXPECT_EQ(entries(), std::vector<std::string>{"desk.bmp"});

    // Without the limit the same save goes through.
    bmp::saveToFile(picture, converted, target);
    EXPECT_EQ(testbmp::readFile(target), bmp::encode(picture));
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
    const std::string target = path("shared.bmp");
    writeText(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string link = path("link.bmp");
    fs::create_symlink(target, link);

    bmp::saveToFile(picture, converted, link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(testbmp::readFile(target), bmp::encode(picture));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(BmpFile, FileOutputReportsWhatItStored)
{
    const std::string target = path("raw");
    std::FILE *f = std::fopen(target.c_str(), "wb");
    ASSERT_TRUE(f);
    bmp::FileOutput out(::fileno(f));
    std::vector<char> block(3000, 'x');
    {
        FileSizeLimit limit(1000);
        EXPECT_EQ(out.write(block.data(), block.size()), 1000u);
    }
    EXPECT_EQ(out.write(block.data(), 10), 10u);
    std::fclose(f);
    EXPECT_EQ(fs::file_size(target), 1010u);
}
