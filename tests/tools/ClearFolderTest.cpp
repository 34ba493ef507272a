#include "analysis/ClearFolder.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(ClearFolder, DeletesFilesBelowAndKeepsTheFoldersAndTheFilesToKeep)
{
    TempDir dir;
    for (const char* file : {"0.wav", ".hidden", "sub/2.wav", "sub/deeper/3.txt", "kept.wav"})
        writeFile(dir / file, "x");
    fs::create_hard_link(dir / "kept.wav", dir / "sub/kept-too.wav");
    int calls = 0;
    EXPECT_EQ(folder_cleanup::clear_folder(dir.str(), [&] { ++calls; },
                                           file_identity::existingIds({(dir / "kept.wav").string()})),
              4u);
    EXPECT_EQ(calls, 8);  // six files and two folders
    EXPECT_TRUE(fs::is_directory(dir / "sub/deeper"));
    for (auto& entry : fs::recursive_directory_iterator(dir.path()))
        EXPECT_TRUE(entry.is_directory() || entry.path().stem().string().starts_with("kept"))
            << entry.path();
    EXPECT_TRUE(fs::exists(dir / "sub/kept-too.wav"));
    EXPECT_EQ(folder_cleanup::clear_folder((dir / "missing").string()), 0u);
}

TEST(ClearFolder, RemovesLinksAsLinksAndNothingOutside)
{
    TempDir outside;
    writeFile(outside / "keep.wav", "precious");
    writeFile(outside / "folder/keep-too.wav", "precious");
    TempDir dir;
    writeFile(dir / "sub/x.wav", "x");
    fs::create_symlink(outside / "folder", dir / "link-to-folder");
    fs::create_symlink(outside / "keep.wav", dir / "sub/link-to-file.wav");
    fs::create_symlink(dir / "nowhere", dir / "dangling");

    EXPECT_EQ(folder_cleanup::clear_folder(dir.str() + "/"), 4u);
    for (const char* link : {"link-to-folder", "sub/link-to-file.wav", "dangling"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / link))) << link;
    EXPECT_EQ(testsupport::readFile(outside / "keep.wav"), "precious");
    EXPECT_EQ(testsupport::readFile(outside / "folder/keep-too.wav"), "precious");
}
