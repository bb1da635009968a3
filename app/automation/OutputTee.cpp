#include "app/automation/OutputTee.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace fieldmon::automation {

std::unique_ptr<OutputTee> OutputTee::start()
{
    std::fflush(stdout);
    bool terminal = ::isatty(STDOUT_FILENO) == 1;
    int original = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (original < 0)
        return nullptr;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        ::close(original);
        return nullptr;
    }
    if (::dup2(ends[1], STDOUT_FILENO) < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        ::close(original);
        return nullptr;
    }
    ::close(ends[1]);
    // The copier reads whatever is there without waiting for more.
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    if (terminal)
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return std::unique_ptr<OutputTee>(new OutputTee(original, ends[0]));
}

OutputTee::OutputTee(int original, int readEnd) : original_(original), readEnd_(readEnd)
{
    copier_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "fm-output");
        run();
    });
}

OutputTee::~OutputTee()
{
    std::fflush(stdout);
    // fd 1 was the pipe's only writer: giving it back ends the pipe, and the
    // copier stops once it has copied the rest.
    ::dup2(original_, STDOUT_FILENO);
    copier_.join();
    ::close(readEnd_);
    ::close(original_);
}

void OutputTee::run()
{
    for (;;) {
        pollfd p{readEnd_, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR)
            return;
        std::lock_guard lock(mutex_);
        if (!drain())
            return;
    }
}

bool OutputTee::drain()
{
    char chunk[8192];
    for (;;) {
        ssize_t n = ::read(readEnd_, chunk, sizeof chunk);
        if (n == 0)
            return false; // every writer has gone
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(original_, chunk + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break; // the original output is gone; the copy is still kept
            done += w;
        }
        kept_.add(chunk, static_cast<std::size_t>(n));
    }
}

OutputTee::Taken OutputTee::takeLines()
{
    // Everything printed before this call is in the pipe once stdout is
    // flushed; reading it here, under the copier's lock, keeps the order.
    std::fflush(stdout);
    std::lock_guard lock(mutex_);
    drain();
    return kept_.take();
}

} // namespace fieldmon::automation
