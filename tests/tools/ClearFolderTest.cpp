#include "analysis/ClearFolder.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(ClearFolder, DeletesFilesBelowAndKeepsTheFolders)
{
    TempDir dir;
    writeFile(dir / "0.wav", "a");
    writeFile(dir / "1.WAV", "b");
    writeFile(dir / ".hidden", "c");
    writeFile(dir / "sub/2.wav", "d");
    writeFile(dir / "sub/deeper/3.txt", "e");
    fs::create_directories(dir / "empty");
    int calls = 0;
    EXPECT_EQ(folder_cleanup::clear_folder(dir.str(), [&] { ++calls; }), 5u);
    EXPECT_EQ(calls, 8);  // five files and three folders
    EXPECT_TRUE(fs::is_directory(dir / "sub/deeper"));
    EXPECT_TRUE(fs::is_directory(dir / "empty"));
    for (auto& entry : fs::recursive_directory_iterator(dir.path()))
        EXPECT_TRUE(entry.is_directory()) << entry.path();
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
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link-to-folder")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "sub/link-to-file.wav")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "dangling")));
    EXPECT_TRUE(fs::is_directory(dir / "sub"));
    EXPECT_EQ(testsupport::readFile(outside / "keep.wav"), "precious");
    EXPECT_EQ(testsupport::readFile(outside / "folder/keep-too.wav"), "precious");
}

TEST(ClearFolder, AMissingFolderIsNoError)
{
    TempDir dir;
    EXPECT_EQ(folder_cleanup::clear_folder((dir / "missing").string()), 0u);
    EXPECT_EQ(folder_cleanup::clear_folder(""), 0u);
}
