#include "capture/LineReader.h"

#include <QIODevice>

#include <cstring>

LineReader::LineReader(QIODevice &device, qsizetype maxLineBytes, qint64 maxTotalBytes, qsizetype blockBytes)
    : m_device(device)
    , m_maxLine(maxLineBytes)
    , m_maxTotal(maxTotalBytes)
    , m_block(blockBytes > 0 ? blockBytes : 1 << 20)
{ }

bool LineReader::fill()
{
    if (m_eof || m_error)
        return false;
    // Drop what has been handed out already, so the buffer holds one partial line at most.
    if (m_begin > 0) {
        m_buffer.remove(0, m_begin);
        m_begin = 0;
    }
    const qint64 allowed = m_maxTotal + 1 - m_totalRead;
    if (allowed <= 0) {
        m_eof = true;
        return false;
    }
    const qsizetype want = static_cast<qsizetype>(qMin<qint64>(m_block, allowed));
    const qsizetype old = m_buffer.size();
    m_buffer.resize(old + want);
    const qint64 got = m_device.read(m_buffer.data() + old, want);
    if (got < 0) {
        m_buffer.resize(old);
        m_error = true;
        return false;
    }
    m_buffer.resize(old + static_cast<qsizetype>(got));
    m_totalRead += got;
    if (got == 0) {
        m_eof = true;
        return false;
    }
    return true;
}

LineReader::Status LineReader::next(QByteArrayView &line)
{
    if (m_stopped != Status::Line)
        return m_stopped;
    const auto stop = [this](Status status) {
        m_stopped = status;
        return status;
    };

    if (m_skipLf) {
        if (m_begin >= m_buffer.size())
            fill();
        if (m_begin < m_buffer.size() && m_buffer.at(m_begin) == '\n')
            ++m_begin;
        m_skipLf = false;
    }

    qsizetype scanned = 0; // bytes of the current line already known to hold no line end
    for (;;) {
        const char *start = m_buffer.constData() + m_begin;
        const qsizetype available = m_buffer.size() - m_begin;
        const char *from = start + scanned;
        const qsizetype rest = available - scanned;
        const char *lf
            = rest > 0 ? static_cast<const char *>(std::memchr(from, '\n', static_cast<size_t>(rest))) : nullptr;
        const qsizetype crRange = lf ? lf - from : rest;
        const char *cr
            = crRange > 0 ? static_cast<const char *>(std::memchr(from, '\r', static_cast<size_t>(crRange))) : nullptr;
        const char *end = cr ? cr : lf;
        if (end) {
            const qsizetype length = end - start;
            // Only lines that end within the first maxTotalBytes bytes count.
            if (m_totalRead - available + length >= m_maxTotal)
                return stop(Status::LimitReached);
            if (length > m_maxLine)
                return stop(Status::LineTooLong);
            line = QByteArrayView(start, length);
            m_begin += length + 1;
            m_skipLf = (*end == '\r');
            return Status::Line;
        }
        scanned = available;
        if (available > m_maxLine)
            return stop(Status::LineTooLong);
        if (!fill()) {
            if (m_error)
                return stop(Status::ReadError);
            if (m_totalRead > m_maxTotal)
                return stop(Status::LimitReached);
            if (available == 0)
                return stop(Status::End);
            // Last line without a line end.
            line = QByteArrayView(m_buffer.constData() + m_begin, available);
            m_begin = m_buffer.size();
            m_stopped = Status::End;
            return Status::Line;
        }
    }
}
