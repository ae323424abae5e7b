// The shared layer and what Windows names besides files: devices (NUL, CON, also with an extension
// inside a folder) and named pipes. Each is refused without being read or waited on.
#include "kestrun/interop/regular_file_seam.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using kestrun::platform::IsMissingOrRegularFile;
using kestrun::platform::OpenRegularForReading;
using kestrun::platform::OpenRegularForWriting;
using kestrun::platform::ReplacementTarget;

TEST(CallerFilesWindows, DevicesAndPipesAreNotFiles) {
    testfiles::TempFolder dir;
    testfiles::ServedPipe pipe;
    ASSERT_TRUE(pipe.served());
    const std::vector<std::string> others = {
        "NUL", "CON", "\\\\.\\NUL", dir / "nul", dir / "aux.txt", dir / "COM1.ini", pipe.path()};
    for (const std::string &other : others) {
        EXPECT_FALSE(IsMissingOrRegularFile(other)) << other;
        EXPECT_FALSE(OpenRegularForReading(other)) << other;
        EXPECT_FALSE(OpenRegularForWriting(other, true)) << other;
        EXPECT_EQ(ReplacementTarget(other), std::nullopt) << other;
    }
    // Nothing was made in the folder under a device's name.
    EXPECT_TRUE(testfiles::Listing(dir.path()).empty());

    // Ordinary names beside them still open.
    std::ofstream(dir / "plain.txt") << "content";
    EXPECT_TRUE(OpenRegularForReading(dir / "plain.txt"));
    EXPECT_TRUE(OpenRegularForWriting(dir / "null.txt", true));
}

} // namespace
