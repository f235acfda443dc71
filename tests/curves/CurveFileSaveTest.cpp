// Saving over files that are not plain and private: read-only files, files
// with several names or other owners, failing system calls and signals that
// end the program mid-save. Faults are injected into forked children with a
// seccomp filter, so the writer runs unchanged.
#include "curves/CurveFile.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

namespace audimera {

namespace {

namespace fs = std::filesystem;

const std::vector<CurvePoint> NewCurve = {{100, 1}, {200, -2.5}};
const std::string NewText = "100,1\r\n200,-2.5\r\n";
const std::string OldText = "old content\r\n";

struct stat statOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

// The test's own folder, to count what a save leaves in it.
class CurveFileSave : public testing::Test {
protected:
    std::string path(const std::string& name) const { return m_folder.file(name); }

    std::vector<std::string> names() const
    {
        std::vector<std::string> all;
        for (const auto& entry : fs::directory_iterator(m_folder.path()))
            all.push_back(entry.path().filename().string());
        std::sort(all.begin(), all.end());
        return all;
    }

    TestFolder m_folder;
};

// Makes every later call of system call nr in this process end as action
// says (SECCOMP_RET_ERRNO | code, or SECCOMP_RET_TRAP for a SIGSYS). For
// forked children: the filter cannot be taken off.
bool intercept(long nr, unsigned action)
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(nr), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, action),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Runs body in a forked child; its wait status.
template <typename Body>
int inChild(Body body)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = -1;
    EXPECT_GT(child, 0);
    if (child > 0)
        waitpid(child, &status, 0);
    return status;
}

std::string exitText(int status)
{
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "exit " + std::to_string(WEXITSTATUS(status));
}

TEST_F(CurveFileSave, AFileWithoutAWriteBitIsRefusedAndKeptByteForByte)
{
    const struct {
        mode_t mode;
        bool throughLink;
        bool refused;
    } cases[] = {
        {0444, false, true}, {0400, false, true}, {0000, false, true},
        {0444, true, true}, {0200, false, false}, {0464, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.throughLink ? " through a link" : ""));
        const std::string file = path("curve.txt"), link = path("link.txt");
        fs::remove(file);
        fs::remove(link);
        spit(file, OldText);
        ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
        if (c.throughLink)
            fs::create_symlink(file, link);
        const std::string error = CurveFile::write(c.throughLink ? link : file, NewCurve).message();
        EXPECT_EQ(error, c.refused ? CurveFile::ReadOnlyError : "");
        chmod(file.c_str(), 0600); // to read it back as anyone
        EXPECT_EQ(slurp(file), c.refused ? OldText : NewText);
        chmod(file.c_str(), c.mode);
        EXPECT_EQ(statOf(file).st_mode & 07777, c.mode);
        EXPECT_EQ(names().size(), c.throughLink ? 2u : 1u); // no temporary file
    }
}

TEST_F(CurveFileSave, AFileWithSeveralNamesIsRewrittenInPlaceForAllOfThem)
{
    const std::string first = path("first.txt"), second = path("second.txt");
    spit(first, std::string(100, 'x')); // longer than the curve
    ASSERT_EQ(chmod(first.c_str(), 0640), 0);
    ASSERT_EQ(link(first.c_str(), second.c_str()), 0);
    const ino_t inode = statOf(first).st_ino;

    ASSERT_EQ(CurveFile::write(first, NewCurve).message(), "");
    EXPECT_EQ(slurp(second), NewText);
    const struct stat st = statOf(second);
    EXPECT_EQ(st.st_ino, inode);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names(), (std::vector<std::string>{"first.txt", "second.txt"}));

    // A write that fails half-way puts the old content back.
    const int status = inChild([&] {
        if (!intercept(__NR_fsync, SECCOMP_RET_ERRNO | EIO))
            return 3;
        return CurveFile::write(second, {{1000, 0}, {2000, 0}, {3000, 0}}).message() == "Input/output error" ? 0 : 1;
    });
    EXPECT_EQ(exitText(status), "exit 0");
    EXPECT_EQ(slurp(first), NewText);
}

TEST_F(CurveFileSave, AReplacedFileKeepsItsOwnerGroupAndModeWhereAllowed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving files to other owners needs root";
    const std::string file = path("shared.txt");
    spit(file, OldText);
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(file.c_str(), 0604), 0);
    ASSERT_EQ(CurveFile::write(file, NewCurve).message(), "");
    struct stat st = statOf(file);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(slurp(file), NewText);

    // An ordinary user may not give the file back to root: the save goes on
    // and the new file is the user's, with the old mode.
    ASSERT_EQ(chmod(m_folder.path().c_str(), 0777), 0);
    ASSERT_EQ(chown(file.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    const int status = inChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 3;
        return CurveFile::write(file, {{300, 3}}).message() == "" ? 0 : 1;
    });
    EXPECT_EQ(exitText(status), "exit 0");
    st = statOf(file);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(slurp(file), "300,3\r\n");
}

TEST_F(CurveFileSave, AFailingModeChangeFailsTheSaveAndKeepsTheOldFile)
{
    const std::string file = path("curve.txt");
    spit(file, OldText);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    const int status = inChild([&] {
        if (!intercept(__NR_fchmod, SECCOMP_RET_ERRNO | EPERM))
            return 3;
        return CurveFile::write(file, NewCurve).message() == "Operation not permitted" ? 0 : 1;
    });
    EXPECT_EQ(exitText(status), "exit 0");
    EXPECT_EQ(slurp(file), OldText);
    EXPECT_EQ(statOf(file).st_mode & 07777, 0644u);
    EXPECT_EQ(names(), std::vector<std::string>{"curve.txt"});
}

volatile sig_atomic_t signalToSend = 0;
volatile sig_atomic_t programHandlerRan = 0;

// For SIGSYS from a trapped system call: the call fails with EIO (rather
// than returning its own number) and signalToSend arrives.
extern "C" void sendSignal(int, siginfo_t*, void* context)
{
    auto* registers = &static_cast<ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    registers->gregs[REG_RAX] = -EIO;
#elif defined(__aarch64__)
    registers->regs[0] = static_cast<unsigned long long>(-EIO);
#endif
    kill(getpid(), signalToSend);
}

extern "C" void programHandler(int)
{
    programHandlerRan = 1;
}

TEST_F(CurveFileSave, ASignalThatEndsTheProgramMidSaveRemovesTheTemporaryFile)
{
#if !defined(__x86_64__) && !defined(__aarch64__)
    GTEST_SKIP() << "failing a trapped system call needs its result register";
#endif
    // The signal arrives once the temporary file is written, as it is synced.
    const struct {
        int signal;
        bool programHandles;
    } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGTERM, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << strsignal(c.signal) << (c.programHandles ? ", handled" : ""));
        const std::string file = path("curve.txt");
        spit(file, OldText);
        const int status = inChild([&] {
            signalToSend = c.signal;
            struct sigaction trap {};
            trap.sa_sigaction = sendSignal;
            trap.sa_flags = SA_SIGINFO;
            sigaction(SIGSYS, &trap, nullptr);
            std::signal(c.signal, c.programHandles ? programHandler : SIG_DFL);
            if (!intercept(__NR_fsync, SECCOMP_RET_TRAP))
                return 3;
            // The program's handler sees its signal and is still in place
            // after the save, which fails on the trapped call.
            const std::string error = CurveFile::write(file, NewCurve).message();
            struct sigaction now {};
            sigaction(c.signal, nullptr, &now);
            return error == "Input/output error" && programHandlerRan && now.sa_handler == programHandler ? 0 : 1;
        });
        EXPECT_EQ(exitText(status), c.programHandles ? "exit 0" : "killed by signal " + std::to_string(c.signal));
        EXPECT_EQ(slurp(file), OldText);
        EXPECT_EQ(names(), std::vector<std::string>{"curve.txt"});
    }

    // A save puts back the actions it found.
    struct sigaction before[3] {}, after[3] {};
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (int i = 0; i < 3; ++i)
        sigaction(signals[i], nullptr, &before[i]);
    ASSERT_EQ(CurveFile::write(path("curve.txt"), NewCurve).message(), "");
    for (int i = 0; i < 3; ++i) {
        sigaction(signals[i], nullptr, &after[i]);
        EXPECT_EQ(after[i].sa_handler, before[i].sa_handler) << strsignal(signals[i]);
    }
}

} // namespace

} // namespace audimera
