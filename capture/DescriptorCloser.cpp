#include "capture/DescriptorCloser.h"

#include <unistd.h>

DescriptorCloser::DescriptorCloser()
    : m_thread([this] { run(); })
{ }

DescriptorCloser::~DescriptorCloser()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void DescriptorCloser::close(int fd)
{
    close(std::vector<int> { fd });
}

void DescriptorCloser::close(const std::vector<int> &fds)
{
    if (fds.empty())
        return;
    bool wake;
    {
        const std::lock_guard lock(m_mutex);
        wake = m_waiting.empty();
        m_waiting.insert(m_waiting.end(), fds.begin(), fds.end());
    }
    // A thread that has descriptors waiting is awake already.
    if (wake)
        m_wake.notify_one();
}

void DescriptorCloser::run()
{
    std::vector<int> closing;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_waiting.empty(); });
        if (m_waiting.empty() && m_stop)
            return;
        closing.swap(m_waiting);
        lock.unlock();
        for (const int fd : closing)
            ::close(fd);
        closing.clear();
        lock.lock();
    }
}
