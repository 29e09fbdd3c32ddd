#ifndef LINEREADER_H
#define LINEREADER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Reads a file descriptor in large blocks and hands out its lines, with their
// numbers and offsets; every line is followed by at least `padding` readable
// bytes, so a parser may read past its end.
class LineReader
{
public:
    struct Line
    {
        const char *data;
        size_t size;            // without "\n" or "\r\n"
        size_t capacity;        // readable bytes from data
        int64_t number;         // 1 for the first line read
        int64_t offset, next;   // file offsets of this line and of the one after it
    };

    // Reads [begin, end) of fd; end -1 for the end of the file.
    LineReader(int fd, size_t padding, int64_t begin = 0, int64_t end = -1);

    // Calls f(const Line &) for each line; false on a read error (see error()).
    template<typename F>
    bool forEachLine(F f);
    int error() const { return m_error; }

private:
    // Reads more into the buffer after the `have` bytes kept; 0 at the end.
    int64_t fill(size_t have);

    static constexpr size_t BlockSize = 8 << 20;
    int m_fd;
    size_t m_padding;
    int64_t m_offset;   // file offset of m_buffer[0]
    int64_t m_end;
    int m_error = 0;
    std::vector<char> m_buffer;
};

template<typename F>
bool LineReader::forEachLine(F f)
{
    size_t have = 0;
    int64_t lineNo = 0;
    bool eof = false;
    while (!eof) {
        const int64_t n = fill(have);
        if (n < 0)
            return false;
        eof = n == 0;
        have += size_t(n);
        size_t pos = 0;
        const char *base = m_buffer.data();
        for (;;) {
            const void *nl = std::memchr(base + pos, '\n', have - pos);
            if (!nl && !(eof && pos < have))
                break;
            const size_t stop = nl ? size_t(static_cast<const char *>(nl) - base) : have;
            size_t len = stop - pos;
            if (len && base[pos + len - 1] == '\r')
                --len;
            const size_t next = nl ? stop + 1 : have;
            f(Line{base + pos, len, m_buffer.size() - pos, ++lineNo, m_offset + int64_t(pos), m_offset + int64_t(next)});
            pos = next;
        }
        std::memmove(m_buffer.data(), base + pos, have - pos);
        m_offset += int64_t(pos);
        have -= pos;
        if (have == m_buffer.size() - m_padding) // a line longer than the block
            m_buffer.resize(m_buffer.size() * 2);
    }
    return true;
}

#endif // LINEREADER_H
