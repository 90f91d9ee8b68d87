// The simulator program itself, on a loopback TCP port and on a pty it makes
// in a temporary folder. These run in real time, briefly.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string bootQuery("\x00\x02\x42", 3);

// The simulator as a child process whose standard output the test reads.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args, const fs::path& log)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            static std::string program = MARLET_BIN_DIR "/marlet-printer-sim";
            argv.push_back(program.data());
            for (auto& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }

    ~SimProcess()
    {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            close(out);
    }

    // The next line of standard output, without its line feed; empty at a time-out or the end.
    std::string ReadLine(int timeoutMs = 5000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (buffered.find('\n') == std::string::npos && Fill(until)) {
        }
        const size_t end = buffered.find('\n');
        if (end == std::string::npos)
            return {};
        std::string line = buffered.substr(0, end);
        buffered.erase(0, end + 1);
        return line;
    }

    // The rest of standard output up to its end.
    std::string ReadRest(int timeoutMs = 5000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Fill(until)) {
        }
        return std::exchange(buffered, {});
    }

    // The exit status, or -1 when the program has not ended in time.
    int Wait(int timeoutMs = 5000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    pid_t pid = -1;

private:
    bool Fill(std::chrono::steady_clock::time_point until)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd fd{out, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = read(out, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffered.append(chunk, static_cast<size_t>(n));
        return true;
    }

    int out = -1;
    bool exited = false;
    std::string buffered;
};

// A temporary folder, removed with what it holds.
struct TempDir {
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "marlet-sim-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads until a carriage return has come, the peer is gone, or the time is up.
std::string ReadReply(int fd, int timeoutMs = 3000)
{
    std::string reply;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (reply.find('\r') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char chunk[512];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        reply.append(chunk, static_cast<size_t>(n));
    }
    return reply;
}

int Connect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int PortOf(const std::string& line)
{
    const std::string prefix = "listening 127.0.0.1:";
    return line.rfind(prefix, 0) == 0 ? std::atoi(line.c_str() + prefix.size()) : -1;
}

void SetLine(int fd, speed_t speed)
{
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD | CSTOPB;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(SimProgram, FlashOverPtyVerifyOverTcpThenSummaryOnSigterm)
{
    TempDir dir;
    const fs::path link = dir.path / "ttySIM";
    const std::string sample = ReadFile(MARLET_SOURCE_DIR "/samples/FW_small_218.bot");
    ASSERT_EQ(sample.size(), 2500u);
    SimProcess sim({"--tcp", "127.0.0.1:0", "--pty", link.string(), "--quiet-ms", "50", "--record",
                    (dir.path / "record.txt").string(), "--image-out", (dir.path / "image.bin").string()},
                   dir.path / "log.txt");

    const int port = PortOf(sim.ReadLine());
    ASSERT_GT(port, 0);
    const std::string ptyLine = sim.ReadLine();
    EXPECT_EQ(ptyLine.rfind("pty " + link.string() + " -> /dev/pts/", 0), 0u) << ptyLine;
    ASSERT_TRUE(fs::is_symlink(link));

    // The boot loader on the pty: query, speed change, image at the new speed.
    const int tty = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    ASSERT_EQ(ioctl(tty, TIOCEXCL), 0);
    SetLine(tty, B19200);
    ASSERT_TRUE(WriteAll(tty, bootQuery));
    EXPECT_EQ(ReadReply(tty), "1.07\r");
    ASSERT_TRUE(WriteAll(tty, "\x02\x48\x73"));
    Pause(200); // the program pauses too before it sets the new speed
    SetLine(tty, B115200);
    ASSERT_TRUE(WriteAll(tty, sample));
    close(tty);
    Pause(400);

    // Reserved by the program while open, free again once it closed (or only root could open it next).
    const int again = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(again, 0);
    int reserved = -1;
    ASSERT_EQ(ioctl(again, TIOCGEXCL, &reserved), 0);
    EXPECT_EQ(reserved, 0);
    close(again);

    // The same printer over TCP, now running the new firmware.
    const int tcp = Connect(port);
    ASSERT_GE(tcp, 0);
    ASSERT_TRUE(WriteAll(tcp, "\x05\x15"));
    EXPECT_EQ(ReadReply(tcp), "ONLINE;READY;REV:MT600-2.18;PAGES:0042\r");
    close(tcp);

    ASSERT_EQ(kill(sim.pid, SIGTERM), 0);
    const std::string summary = sim.ReadRest();
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(summary.find("bytes received: 2508\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("image bytes: 2500\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("image crc32: 2a4431ee\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("final revision: 2.18\n"), std::string::npos) << summary;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link goes with the program";
    EXPECT_EQ(ReadFile(dir.path / "image.bin"), sample);
    const std::string record = ReadFile(dir.path / "record.txt");
    EXPECT_NE(record.find(" 00 02 42\n"), std::string::npos);
    const std::string log = ReadFile(dir.path / "log.txt");
    EXPECT_NE(log.find("pty line 115200 baud, 2 stop bits"), std::string::npos) << log;
}

TEST(SimProgram, SurvivesADroppedConnectionAndExitsAfterFlash)
{
    TempDir dir;
    const std::string sample = ReadFile(MARLET_SOURCE_DIR "/samples/FW_219.bot");
    SimProcess sim({"--tcp", "0", "--quiet-ms", "50", "--drop-at", "3", "--exit-after-flash"},
                   dir.path / "log.txt");
    const int port = PortOf(sim.ReadLine());
    ASSERT_GT(port, 0);

    int tcp = Connect(port);
    ASSERT_GE(tcp, 0);
    ASSERT_TRUE(WriteAll(tcp, bootQuery));
    EXPECT_EQ(ReadReply(tcp), "") << "the connection drops before the printer answers";
    close(tcp);

    tcp = Connect(port);
    ASSERT_GE(tcp, 0);
    ASSERT_TRUE(WriteAll(tcp, bootQuery));
    EXPECT_EQ(ReadReply(tcp), "1.07\r");
    ASSERT_TRUE(WriteAll(tcp, sample));
    Pause(400);
    ASSERT_TRUE(WriteAll(tcp, "\x05\x15"));
    EXPECT_EQ(ReadReply(tcp), "ONLINE;READY;REV:MT600-2.19;PAGES:0042\r");
    close(tcp);

    EXPECT_EQ(sim.Wait(), 0) << "ends on its own once the status query is answered";
    const std::string summary = sim.ReadRest();
    EXPECT_NE(summary.find("image bytes: 65536\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("image crc32: 969e5e28\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("final revision: 2.19\n"), std::string::npos) << summary;
}

} // namespace
