#include "peers/at_modem/at_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>

#include "platform/peer.h"

namespace atmodem {

namespace {
constexpr char kDle = 0x10, kEtx = 0x03;
}

void Parser::EndLine(std::vector<Item>& out) {
    if (!line_.empty()) {
        if (line_ == "CONNECT" && expectData_) {
            data_ = true;
            skipLf_ = true;
            expectData_ = false;
        }
        out.push_back({Item::Line, line_});
    }
    line_.clear();
}

void Parser::Feed(const char* bytes, size_t n, std::vector<Item>& out) {
    auto flushVoice = [&] {
        if (!voice_.empty()) out.push_back({Item::Voice, std::move(voice_)});
        voice_.clear();
    };
    for (size_t i = 0; i < n; ++i) {
        char b = bytes[i];
        if (skipLf_) {
            skipLf_ = false;
            if (b == '\n') continue;
        }
        if (dle_) {
            dle_ = false;
            if (data_ && b == kDle) {
                voice_ += kDle;
                continue;
            }
            flushVoice();
            if (b == kEtx) data_ = false;
            out.push_back({Item::Dle, std::string(1, b)});
            continue;
        }
        if (b == kDle) {
            dle_ = true;
            continue;
        }
        if (data_) {
            voice_ += b;
            continue;
        }
        if (b == '\r' || b == '\n') {
            EndLine(out);
        } else if (b >= 0x20 && b < 0x7f && line_.size() < 512) {
            line_ += b;
        }
    }
    flushVoice();
}

Link::~Link() { Close(); }

bool Link::Open(const std::string& path, std::function<void()> arrived) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        t.c_cflag |= CLOCAL | CREAD | CRTSCTS;
        tcsetattr(fd, TCSANOW, &t);
    }
    struct stat st {};
    fstat(fd, &st);
    toModem_ = peer::SerialKey(st.st_rdev, true);
    fromModem_ = peer::SerialKey(st.st_rdev, false);
    if (pipe(wake_) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    queued_ = written_ = 0;
    arrived_ = std::move(arrived);
    parser_ = Parser();
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Link::Close() {
    if (wake_[1] >= 0) {
        char x = 'q';
        (void)!::write(wake_[1], &x, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int* fd : {&wake_[0], &wake_[1], &fd_})
        if (*fd >= 0) ::close(*fd), *fd = -1;
    std::lock_guard<std::mutex> g(lock_);
    if (!out_.empty()) peer::SerialTaken(toModem_, out_.size());
    out_.clear();
    items_.clear();
}

void Link::Send(const std::string& bytes) {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (fd_ < 0) return;
        peer::SerialSent(toModem_, bytes.size());
        out_ += bytes;
        queued_ += bytes.size();
    }
    char x = 'w';
    (void)!::write(wake_[1], &x, 1);
}

std::vector<Item> Link::Take() {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<Item> v(items_.begin(), items_.end());
    items_.clear();
    return v;
}

bool Link::WaitForItem(int ms) {
    std::unique_lock<std::mutex> g(lock_);
    return ready_.wait_for(g, std::chrono::milliseconds(ms), [this] { return !items_.empty(); });
}

void Link::ExpectData(bool on) { expect_ = on; }

void Link::Run() {
    char buf[4096];
    for (;;) {
        bool writing;
        {
            std::lock_guard<std::mutex> g(lock_);
            writing = !out_.empty();
        }
        pollfd fds[2] = {{fd_, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            ssize_t n = ::read(wake_[0], buf, sizeof buf);
            bool quit = false;
            for (ssize_t i = 0; i < n; ++i) quit = quit || buf[i] == 'q';
            if (quit) return;
        }
        std::vector<Item> got;
        size_t taken = 0;
        bool gone = (fds[0].revents & (POLLERR | POLLNVAL)) != 0;
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                if (expect_.exchange(false)) parser_.ExpectData(true);
                parser_.Feed(buf, static_cast<size_t>(n), got);
                taken = static_cast<size_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                gone = true;
            }
        }
        if (!gone && (fds[0].revents & POLLOUT)) {
            std::lock_guard<std::mutex> g(lock_);
            // Counted before the write: the far end may read the bytes (and
            // the clock move on) before this thread runs again.
            const size_t len = out_.size();
            written_ += len;
            ssize_t n = ::write(fd_, out_.data(), len);
            written_ -= len - static_cast<size_t>(std::max<ssize_t>(n, 0));
            if (n > 0) {
                out_.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                gone = true;
            }
        }
        if (gone) got.push_back({Item::Gone, ""});
        if (!got.empty()) {
            {
                std::lock_guard<std::mutex> g(lock_);
                for (auto& item : got) items_.push_back(std::move(item));
            }
            ready_.notify_all();
            if (arrived_) arrived_();
        }
        if (taken) peer::SerialTaken(fromModem_, taken);
        if (gone) {
            peer::SerialForget(fromModem_);  // nothing more comes from a device that is gone
            std::lock_guard<std::mutex> g(lock_);
            peer::SerialTaken(toModem_, out_.size());
            out_.clear();
            return;
        }
    }
}

}  // namespace atmodem
