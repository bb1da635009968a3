// Writing a file a user named: what may be replaced, what never is, and that
// nothing is left behind. The story: a screenshot path mistyped through ".."
// replaced a system file with a PNG, the app running as root.

#include "platform/SafeFileWrite.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace fieldmon::platform;
using Outcome = SafeWriteResult::Outcome;

namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "picture";

struct Folder {
    std::string path;
    Folder()
    {
        char name[] = "/tmp/safewrite-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~Folder() { std::system(("rm -rf " + path).c_str()); }
    std::string at(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        DIR* d = ::opendir(path.c_str());
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                out.push_back(e->d_name);
        ::closedir(d);
        std::sort(out.begin(), out.end());
        return out;
    }
};

void put(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(SafeFileWrite, ANewNameOrAFileOfTheSameKindIsWrittenAndNothingElseIsLeft)
{
    Folder f;
    auto r = writeFileSafely(f.at("shot.png"), kPng + "1", FileKind::png());
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(r.path, f.at("shot.png"));
    r = writeFileSafely(f.at("shot.png"), kPng + "2", FileKind::png());
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(read(f.at("shot.png")), kPng + "2");
    struct stat st {};
    ASSERT_EQ(::stat(f.at("shot.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(f.names(), std::vector<std::string>{"shot.png"}) << "no temporary file stays";

    // A relative path is the working folder's.
    char* here = ::getcwd(nullptr, 0);
    const std::string cwd = here;
    std::free(here);
    ASSERT_EQ(::chdir(f.path.c_str()), 0);
    r = writeFileSafely("rel.png", kPng, FileKind::png());
    EXPECT_EQ(::chdir(cwd.c_str()), 0);
    EXPECT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(r.path, f.at("rel.png"));
}

TEST(SafeFileWrite, WhatIsNotOfTheKindOrNotARegularFileIsLeftAsItWasAndTheReasonSaysWhy)
{
    Folder f;
    put(f.at("passwd"), "root:x:0:0:root:/root:/bin/bash\n");
    put(f.at("target.png"), kPng);
    ASSERT_EQ(::mkdir(f.at("folder").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(f.at("target.png").c_str(), f.at("link.png").c_str()), 0);
    ASSERT_EQ(::mkfifo(f.at("pipe.png").c_str(), 0644), 0);
    struct Case {
        std::string path;
        bool overwrite;
        Outcome outcome;
        std::string reason;
    };
    for (const Case& c : {
             Case{f.at("passwd"), false, Outcome::OtherKind, "exists and is not a PNG picture"},
             Case{f.at("folder/../passwd"), false, Outcome::OtherKind, "exists and is not a PNG picture"},
             Case{f.at("folder"), true, Outcome::NotRegular, "is a folder"},
             Case{f.at("folder/"), true, Outcome::NotRegular, "names a folder"},
             Case{f.at("link.png"), true, Outcome::NotRegular, "is a symbolic link"},
             Case{f.at("pipe.png"), true, Outcome::NotRegular, "is a pipe"},
             Case{"/dev/null", true, Outcome::NotRegular, "is a device"},
             Case{f.at("missing/shot.png"), false, Outcome::Failed, "cannot write"},
             Case{"", false, Outcome::Failed, "no path"},
         }) {
        const auto r = writeFileSafely(c.path, kPng, FileKind::png(), c.overwrite);
        EXPECT_EQ(r.outcome, c.outcome) << c.path;
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << c.path << ": " << r.reason;
    }
    EXPECT_EQ(read(f.at("passwd")), "root:x:0:0:root:/root:/bin/bash\n");
    EXPECT_EQ(read(f.at("target.png")), kPng) << "a link is not followed";
    EXPECT_EQ(f.names(), (std::vector<std::string>{"folder", "link.png", "passwd", "pipe.png", "target.png"}));

    // Asked to, a regular file of another kind is replaced.
    const auto r = writeFileSafely(f.at("passwd"), kPng, FileKind::png(), true);
    EXPECT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(read(f.at("passwd")), kPng);
}
