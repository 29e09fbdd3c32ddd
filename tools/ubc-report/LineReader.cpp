#include "LineReader.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

LineReader::LineReader(int fd, size_t padding, int64_t begin, int64_t end)
    : m_fd(fd), m_padding(padding), m_offset(begin), m_end(end)
{
    m_buffer.resize(BlockSize + padding);
    if (begin > 0 && lseek(fd, begin, SEEK_SET) < 0)
        m_error = errno;
}

int64_t LineReader::fill(size_t have)
{
    while (!m_error) {
        const size_t room = m_buffer.size() - m_padding - have;
        size_t want = room;
        if (m_end >= 0)
            want = size_t(std::max<int64_t>(0, std::min<int64_t>(int64_t(room), m_end - m_offset - int64_t(have))));
        const ssize_t n = want ? ::read(m_fd, m_buffer.data() + have, want) : 0;
        if (n >= 0)
            return n;
        if (errno != EINTR)
            m_error = errno;
    }
    return -1;
}
