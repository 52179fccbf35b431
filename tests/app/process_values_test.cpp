// The program's directory as the engine joins paths onto it.
#include <gtest/gtest.h>

#include "process/process_values.h"

namespace {

std::string AppDir(const char* modulePath, size_t size = MAX_PATH) {
    char dir[MAX_PATH] = {};
    AppDirFromModulePath(modulePath, dir, size);
    return dir;
}

TEST(AppDir, KeepsTheTrailingBackslash) {
    EXPECT_EQ("D:\\Games\\Lobby\\", AppDir("D:\\Games\\Lobby\\updater.exe"));
    EXPECT_EQ("Z:\\", AppDir("Z:\\updater.exe"));
}

TEST(AppDir, NoFolderGivesEmptyAndSmallBuffersAreNotOverrun) {
    EXPECT_EQ("", AppDir("updater.exe"));
    EXPECT_EQ("D:\\G", AppDir("D:\\Games\\updater.exe", 5));
}

}  // namespace
