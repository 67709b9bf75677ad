#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

// While alive, the process cannot open another file or socket: the soft limit on open files is
// lowered a little above the descriptors in use and the room left is filled, so every new
// descriptor fails with EMFILE. A descriptor closed meanwhile is free again for the next one.
// (The limit stays above the number of descriptors an event loop polls, which poll() checks.)
class NoFreeDescriptors final
{
public:
    NoFreeDescriptors()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        rlimit squeezed = m_saved;
        squeezed.rlim_cur = rlim_t(lowestFree + 256) < m_saved.rlim_cur ? rlim_t(lowestFree + 256) : m_saved.rlim_cur;
        ::setrlimit(RLIMIT_NOFILE, &squeezed);
        for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0;
             fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC))
            m_fillers.push_back(fd);
    }
    ~NoFreeDescriptors()
    {
        for (int fd : m_fillers)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    NoFreeDescriptors(const NoFreeDescriptors &) = delete;
    NoFreeDescriptors &operator=(const NoFreeDescriptors &) = delete;

private:
    rlimit m_saved {};
    std::vector<int> m_fillers;
};
