#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Turns the bytes of a whois answer into text that is safe to show, read by read.
//
// Each character is taken as UTF-8 where the bytes form a valid UTF-8 sequence, else the byte
// stands for its Latin-1 character; a UTF-8 sequence cut off at the end of one read is held back
// and finished by the next. Line ends (CR LF, CR or LF, also when CR and LF arrive in different
// reads) become LF. Other control characters (C0, DEL, C1) are made visible as U+FFFD, the
// replacement character every default font draws. Tabs stay. Bidirectional
// embedding, override and isolate controls are dropped, so an answer cannot reorder the text
// around it. A line longer than MaxLineLength characters is broken there: text views lay out a
// line as a whole, and a megabyte without a line end would hold the window for minutes.
class WhoisDecoder final
{
public:
    static constexpr int MaxLineLength = 4096;

    // The text of the characters that are complete in what arrived so far.
    QString decode(QByteArrayView bytes);
    // The end of the answer: bytes still held back count as Latin-1 characters.
    QString finish();
    // Forgets what was held back, for a new answer.
    void reset();

private:
    void append(QString &out, char32_t c);

    QByteArray m_pending; // an unfinished UTF-8 sequence (at most 3 bytes)
    bool m_afterCr = false; // the last character was CR: an LF right after it belongs to it
    int m_lineLength = 0; // characters since the last line end
};
