// The tools' result files (tools/output): a whole new file under the real
// name or nothing left behind, whether the tool fails, exits or is stopped
// by a signal part way through writing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "output_file.h"
#include "process.h"

namespace {

// Begins a result in a child, writes into it, then ends as `end` says:
// 0 returns from main without committing, a signal number waits for it.
int writeInChild(const std::string& path, int end) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        static std::string temporary;  // static: still reachable when the child exits
        if (!outputBegin(path, &temporary)) _exit(3);
        std::ofstream(temporary) << std::string(100000, 'x');
        if (write(ready[1], "r", 1) != 1) _exit(4);
        if (end == 0) std::exit(1);  // the exit path removes the temporary
        for (;;) pause();
    }
    char byte;
    const bool wrote = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    close(ready[1]);
    if (wrote && end != 0) kill(child, end);
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST(Output, CommitReplacesTheOldFileWhole) {
    TempDir temp;
    std::ofstream(temp / "result") << "old";
    std::string temporary;
    ASSERT_TRUE(outputBegin(temp / "result", &temporary)) << std::strerror(errno);
    EXPECT_EQ(temp.namesExcept({"result"}).size(), 1u) << "no temporary beside it";
    std::ofstream(temporary) << "new";
    EXPECT_EQ(readFile(temp / "result"), "old") << "the real name changed before the commit";
    ASSERT_TRUE(outputCommit(temporary, temp / "result"));
    EXPECT_EQ(readFile(temp / "result"), "new");
    EXPECT_EQ(temp.namesExcept(), std::vector<std::string>{"result"});
    struct stat st;
    ASSERT_EQ(stat((temp / "result").c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "not the permissions of a new file";
}

TEST(Output, FailuresLeaveTheOldFileAndNothingElse) {
    TempDir temp;
    std::ofstream(temp / "result") << "old";
    std::string temporary;
    ASSERT_TRUE(outputBegin(temp / "result", &temporary));
    outputDiscard(temporary);
    EXPECT_EQ(temp.namesExcept(), std::vector<std::string>{"result"});

    // A rename that fails (a folder took the name meanwhile) removes the temporary.
    ASSERT_TRUE(outputBegin(temp / "taken", &temporary));
    ASSERT_EQ(mkdir((temp / "taken").c_str(), 0755), 0);
    EXPECT_FALSE(outputCommit(temporary, temp / "taken"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(temp.namesExcept(), (std::vector<std::string>{"result", "taken"}));

    // Refused before any file is made: a folder, whatever its name, and a
    // missing folder.
    EXPECT_FALSE(outputBegin(temp / "taken", &temporary));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(outputRefusal(temp / "taken"), EISDIR);
    EXPECT_FALSE(outputBegin(temp / "missing/result", &temporary));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(temp.namesExcept(), (std::vector<std::string>{"result", "taken"}));
}

TEST(Output, ExitOrASignalBeforeTheCommitLeavesNothing) {
    TempDir temp;
    for (int end : {0, SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(end);
        const int status = writeInChild(temp / "result", end);
        if (end == 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == end) << "status " << status;
        }
        EXPECT_EQ(temp.namesExcept(), std::vector<std::string>{});
    }
}

TEST(Output, ExtensionIsTheFileNamesInLowerCase) {
    EXPECT_EQ(outputExtension("a/b/Frame.PnG"), ".png");
    EXPECT_EQ(outputExtension("v.tar.MKV"), ".mkv");
    EXPECT_EQ(outputExtension("dir.mp4/video"), "");
    EXPECT_EQ(outputExtension(".hidden"), "");
    EXPECT_EQ(outputExtension("plain"), "");
}

}  // namespace
