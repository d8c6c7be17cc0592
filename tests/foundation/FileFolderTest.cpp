#include "foundation/FileFolder.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

using MAIL::FileFolder;
using pelorus::test::TempDir;

TEST(FileFolder, SplitsAtTheLastSeparatorCollapsingRuns)
{
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
    };
    for (const Case& c : {Case{"/tmp/pelorus/", "/tmp/pelorus", ""},
                          Case{"/tmp//x//y.msg", "/tmp/x", "y.msg"},
                          Case{"rel/a.log", "rel", "a.log"}}) {
        FileFolder f(c.path);
        EXPECT_EQ(f.getFolder(), c.folder) << c.path;
        EXPECT_EQ(f.getName(), c.name) << c.path;
    }
}

TEST(FileFolder, PathWithoutSeparatorThrowsTheGenericCode)
{
    try {
        FileFolder f("name.msg");
        FAIL() << "no exception";
    } catch (int code) {
        EXPECT_EQ(code, static_cast<int>(0x80004005u));
    }
    std::string folder = "x", name = "y";
    EXPECT_FALSE(FileFolder::split("plain", folder, name));
    EXPECT_EQ(folder, "");
    EXPECT_EQ(name, "");
}

TEST(FileFolder, CreatesMissingParentsPrivately)
{
    TempDir dir;
    FileFolder f(dir / "a/b/c/file.msg");
    EXPECT_FALSE(f.exists());
    EXPECT_TRUE(f.create());
    EXPECT_TRUE(f.exists());
    EXPECT_EQ(pelorus::test::fileMode(dir / "a"), 0700);
    EXPECT_EQ(pelorus::test::fileMode(dir / "a/b/c"), 0700);
    EXPECT_TRUE(f.create()) << "an existing folder is a success";
}

TEST(FileFolder, RefusesWhatCannotBeAFolder)
{
    TempDir dir;
    EXPECT_FALSE(FileFolder("./x").create());
    EXPECT_FALSE(FileFolder("../x").create());
    pelorus::test::writeFile(dir / "plain", "x");
    EXPECT_FALSE(FileFolder(dir / "plain/sub/x").create());
}
