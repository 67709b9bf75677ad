#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// Closes descriptors on a thread of its own. Closing a visitor's connection is the costliest step
// of a plain visit (the kernel ends the TCP connection in the call): the listener's thread hands
// the descriptor over and goes on with the next visit. Descriptors still waiting are closed when
// the object goes.
class DescriptorCloser final
{
public:
    DescriptorCloser();
    ~DescriptorCloser();
    DescriptorCloser(const DescriptorCloser &) = delete;
    DescriptorCloser &operator=(const DescriptorCloser &) = delete;

    // The descriptors are no longer the caller's.
    void close(int fd);
    void close(const std::vector<int> &fds);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<int> m_waiting;
    bool m_stop = false;
    std::thread m_thread;
};
