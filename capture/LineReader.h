#pragma once

#include <QByteArray>
#include <QByteArrayView>

class QIODevice;

// Reads a text file line by line with hard bounds, for files the program did not write itself
// (visitor lists, country files). A line ends at CR LF, at LF or at a lone CR; a final line
// without a line end counts as a line. Nothing is decoded: callers get the raw bytes.
//
// The reader never holds more than about one line plus one read block in memory, and it reads
// at most maxTotalBytes + 1 bytes of the device, so a huge or endless input (/dev/zero) stops
// early instead of exhausting memory.
class LineReader final
{
public:
    enum class Status {
        Line, // line holds the next line, without its line end
        End, // the input ended
        LineTooLong, // a line longer than maxLineBytes; reading stops
        LimitReached, // the input holds more than maxTotalBytes; reading stops
        ReadError, // the device reported an error; reading stops
    };

    LineReader(QIODevice &device, qsizetype maxLineBytes, qint64 maxTotalBytes, qsizetype blockBytes = 1 << 20);

    // The next line; the view stays valid until the next call.
    Status next(QByteArrayView &line);

    qint64 bytesRead() const { return m_totalRead; }

private:
    bool fill(); // reads one more block; false when nothing more could be read

    QIODevice &m_device;
    const qsizetype m_maxLine;
    const qint64 m_maxTotal;
    const qsizetype m_block;
    QByteArray m_buffer;
    qsizetype m_begin = 0; // start of the unread part of m_buffer
    qint64 m_totalRead = 0;
    bool m_eof = false;
    bool m_error = false;
    bool m_skipLf = false; // the last line ended with CR: a following LF belongs to it
    Status m_stopped = Status::Line;
};
