#include "media/TFFEncoder.h"
#include "media/TFFEntryPoints.h"
#include "media/TFFLoader.h"
#include "media/TFFLoaderError.h"
#include "media/TFFLogger.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string currentDirectory() { return fs::current_path().string(); }

std::string pathVariable()
{
    const char* path = std::getenv("PATH");
    return path ? path : "";
}

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::string upperCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Where the system keeps a library, as its loader finds it by name.
std::string systemLibraryPath(const std::string& name)
{
    void* module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return {};
    link_map* map = nullptr;
    std::string path;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map)
        path = map->l_name;
    dlclose(module);
    return path;
}

bool anyLibraryLoaded()
{
    for (int i = 0; i < kLibraryCount; ++i)
        if (TFFLoader::Instance().IsLibraryLoaded(static_cast<TLibraryIndex>(i)))
            return true;
    return false;
}

std::size_t entryPointCount()
{
#define AURALON_COUNT(library, name) +1
    return 0 AURALON_FF_ENTRY_POINTS(AURALON_COUNT);
#undef AURALON_COUNT
}

struct MissingEntryPointCase {
    TLibraryIndex library;
    const char* fileName;
    const char* firstFunction;

    friend void PrintTo(const MissingEntryPointCase& row, std::ostream* out) { *out << row.fileName; }
};

class MissingEntryPoint : public testing::TestWithParam<MissingEntryPointCase> {};

}  // namespace

// A library file lacking a required function fails the whole set, also the libraries
// loaded before it, and the next folder starts from a clean state.
TEST_P(MissingEntryPoint, FailsWithTheFunctionAndLeavesNothingLoaded)
{
    const MissingEntryPointCase& row = GetParam();
    testsupport::TempDir folder;
    fs::copy_file(AURALON_FAKE_LIBRARY, folder / row.fileName);
    ASSERT_EQ(TFFLoader::Instance().LibraryFileName(row.library), row.fileName);
    const std::string directoryBefore = currentDirectory();

    TFFEncoder host;
    EXPECT_FALSE(host.LoadFFmpeg(folder.str()));

    const std::string libraryPath = folder.str() + "/" + row.fileName;
    EXPECT_EQ(host.LastError(), std::string("Load function ") + row.firstFunction + "@" +
                                    row.fileName + " error: " + libraryPath +
                                    ": undefined symbol: " + row.firstFunction);
    EXPECT_EQ(TFFLoader::Instance().LastLoadError(), host.LastError());
    EXPECT_FALSE(host.FFmpegLoaded());
    EXPECT_FALSE(anyLibraryLoaded());
    EXPECT_EQ(FF.BoundCount(), 0u);
    EXPECT_EQ(currentDirectory(), directoryBefore);
    // The folder stays on PATH after the failure.
    EXPECT_EQ(pathVariable().rfind(folder.str() + "/:", 0), 0u) << pathVariable();

    testsupport::TempDir emptyFolder;
    EXPECT_TRUE(host.LoadFFmpeg(emptyFolder.str())) << host.LastError();
    EXPECT_TRUE(host.FFmpegLoaded());
    EXPECT_EQ(FF.BoundCount(), entryPointCount());
}

INSTANTIATE_TEST_SUITE_P(
    Loader, MissingEntryPoint,
    testing::Values(
        MissingEntryPointCase{TLibraryIndex::avcodec, "libavcodec.so.59", "avcodec_find_decoder"},
        MissingEntryPointCase{TLibraryIndex::avformat, "libavformat.so.59", "av_find_input_format"}),
    [](const testing::TestParamInfo<MissingEntryPointCase>& info) {
        return std::string(TFFLoader::LibraryBaseName(info.param.library));
    });

TEST(Loader, LibraryFoundNowhereNamesThePathAsTried)
{
    TFFLoader& loader = TFFLoader::Instance();
    loader.SetLibraryFileName(TLibraryIndex::avfilter, "/no/such/folder/libnothing.so.1");
    TFFEncoder host;
    EXPECT_FALSE(host.LoadFFmpeg("/another/folder"));
    EXPECT_EQ(host.LastError(),
              "Load library /no/such/folder/libnothing.so.1 error: libnothing.so.1: cannot open "
              "shared object file: No such file or directory");
    EXPECT_FALSE(anyLibraryLoaded());
    EXPECT_EQ(FF.BoundCount(), 0u);
}

// The folder is preferred, not exclusive: what it lacks comes from the default search.
TEST(Loader, LoadsFromFolderAndDefaultSearchAndAgainAfterUnloading)
{
    testsupport::TempDir folder;
    const std::string avutil = systemLibraryPath("libavutil.so.57");
    ASSERT_FALSE(avutil.empty());
    fs::create_symlink(avutil, folder / "libavutil.so.57");
    const std::string directoryBefore = currentDirectory();

    TFFEncoder host;
    ASSERT_TRUE(host.LoadFFmpeg(folder.str())) << host.LastError();
    EXPECT_TRUE(host.FFmpegLoaded());
    EXPECT_EQ(FF.BoundCount(), entryPointCount());
    EXPECT_EQ(currentDirectory(), directoryBefore);
    EXPECT_EQ(occurrences(pathVariable(), folder.str() + "/"), 1u) << pathVariable();

    TFFLoader::Instance().UnloadLibraries(all_libraries);
    EXPECT_FALSE(host.FFmpegLoaded());
    EXPECT_EQ(FF.BoundCount(), 0u);

    ASSERT_TRUE(host.LoadFFmpeg(folder.str())) << host.LastError();
    EXPECT_EQ(occurrences(pathVariable(), folder.str() + "/"), 1u) << pathVariable();
}

TEST(Loader, PathGainsTheFolderOnlyWhenAbsentInAnyLetterCase)
{
    testsupport::TempDir folder;
    const std::string avutil = systemLibraryPath("libavutil.so.57");
    ASSERT_FALSE(avutil.empty());
    fs::create_symlink(avutil, folder / "libavutil.so.57");
    const std::string dir = folder.str() + "/";
    struct Row {
        std::string before, after;
    } rows[] = {
        {"/usr/bin:/bin", dir + ":/usr/bin:/bin"},
        {"/bin:" + upperCased(dir) + ":/usr/bin", "/bin:" + upperCased(dir) + ":/usr/bin"},
        {"", dir},  // no empty element, which would stand for the current directory
    };
    TFFLoader& loader = TFFLoader::Instance();
    loader.SetLibraryPath(folder.str());
    for (const Row& row : rows) {
        setenv("PATH", row.before.c_str(), 1);
        ASSERT_TRUE(loader.LoadLibraryItem(TLibraryIndex::avutil)) << loader.LastLoadError();
        EXPECT_EQ(pathVariable(), row.after);
        loader.UnloadLibraryItem(TLibraryIndex::avutil);
    }
}

TEST(Loader, CheckNamesTheFirstMissingLibrary)
{
    TFFLoader& loader = TFFLoader::Instance();
    auto message = [&](TLibrarySet set) -> std::string {
        try {
            loader.CheckLibraries(set);
            return "";
        } catch (const TFFLoaderError& e) {
            return e.what();
        }
    };
    EXPECT_EQ(message(probe_libraries), "Library avcodec not loaded.");
    TFFDecoder probe;
    EXPECT_THROW(probe.LoadFile("/no/such/file.wav"), TFFLoaderError);

    ASSERT_TRUE(loader.LoadLibraries(all_libraries)) << loader.LastLoadError();
    EXPECT_EQ(message(all_libraries), "");
    loader.UnloadLibraryItem(TLibraryIndex::avfilter);
    EXPECT_EQ(message(probe_libraries), "");  // the probe does without avfilter
    EXPECT_EQ(message(all_libraries), "Library avfilter not loaded.");
    loader.UnloadLibraryItem(TLibraryIndex::swscale);
    EXPECT_EQ(message(probe_libraries), "Library swscale not loaded.");
}

TEST(Loader, RoutesFFmpegMessagesToTheLogger)
{
    testsupport::TempDir folder;
    testsupport::writeFile(folder / "text.mp3", std::string(4000, 'x'));
    TFFEncoder host;
    ASSERT_TRUE(host.LoadFFmpeg(""));
    std::vector<std::string> lines;
    TFFLogger::Instance().SetSink([&](int, const std::string& text) { lines.push_back(text); });
    host.Decoder().LoadFile((folder / "text.mp3").string());
    TFFLogger::Instance().SetSink(nullptr);
    ASSERT_FALSE(lines.empty());
    // FFmpeg's context prefix shows the line came through its own log call.
    EXPECT_NE(lines.front().find(" @ 0x"), std::string::npos) << lines.front();
}
