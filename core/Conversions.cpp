#include "core/Conversions.h"

#include <cmath>
#include <limits>

namespace Conversions {
namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

struct Scan
{
    double value = 0.0;
    qsizetype end = 0; // index after the last character that belongs to the number
    bool hasDigits = false;
};

// Reads a number from the start of text following the leading-number rule.
Scan scanNumber(const QString &text)
{
    Scan scan;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && isBlank(text[i]))
        ++i;

    if (i + 1 < n && text[i] == u'&') {
        const QChar kind = text[i + 1].toUpper();
        if (kind == u'H' || kind == u'O') {
            const int base = kind == u'H' ? 16 : 8;
            qsizetype j = i + 2;
            double value = 0.0;
            while (j < n) {
                if (isBlank(text[j])) {
                    ++j;
                    continue;
                }
                const int digit = digitValue(text[j]);
                if (digit < 0 || digit >= base)
                    break;
                value = value * base + digit;
                scan.hasDigits = true;
                ++j;
                scan.end = j;
            }
            scan.value = value;
            if (!scan.hasDigits)
                scan.end = i + 2;
            return scan;
        }
    }

    // Collect the characters of the number (blanks dropped) and let the C library convert them,
    // so that rounding is that of a correctly rounded decimal conversion.
    std::string digits;
    qsizetype j = i;
    if (j < n && (text[j] == u'+' || text[j] == u'-')) {
        digits.push_back(static_cast<char>(text[j].unicode()));
        ++j;
        scan.end = j;
    }
    bool seenPoint = false;
    while (j < n) {
        const QChar c = text[j];
        if (isBlank(c)) {
            ++j;
            continue;
        }
        if (c.unicode() < 128 && c.isDigit()) {
            digits.push_back(static_cast<char>(c.unicode()));
            scan.hasDigits = true;
        } else if (c == u'.' && !seenPoint) {
            digits.push_back('.');
            seenPoint = true;
        } else {
            break;
        }
        ++j;
        scan.end = j;
    }
    if (scan.hasDigits && j < n && (text[j] == u'e' || text[j] == u'E')) {
        // An exponent counts only when at least one digit follows it.
        std::string exponent = "e";
        qsizetype k = j + 1;
        while (k < n && isBlank(text[k]))
            ++k;
        if (k < n && (text[k] == u'+' || text[k] == u'-')) {
            exponent.push_back(static_cast<char>(text[k].unicode()));
            ++k;
        }
        bool expDigits = false;
        while (k < n) {
            const QChar c = text[k];
            if (isBlank(c)) {
                ++k;
                continue;
            }
            if (c.unicode() >= 128 || !c.isDigit())
                break;
            exponent.push_back(static_cast<char>(c.unicode()));
            expDigits = true;
            ++k;
            scan.end = k;
        }
        if (expDigits)
            digits += exponent;
    }
    if (!scan.hasDigits) {
        scan.value = 0.0;
        return scan;
    }
    scan.value = std::strtod(digits.c_str(), nullptr);
    if (!std::isfinite(scan.value))
        scan.value = digits.front() == '-' ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
    return scan;
}

} // namespace

double leadingNumber(const QString &text)
{
    return scanNumber(text).value;
}

bool isNumeric(const QString &text)
{
    const Scan scan = scanNumber(text);
    if (!scan.hasDigits)
        return false;
    for (qsizetype i = scan.end; i < text.size(); ++i) {
        if (!isBlank(text[i]))
            return false;
    }
    return true;
}

std::optional<bool> truthValue(const QString &text)
{
    // The values the program itself stores, answered without parsing.
    if (text.size() == 1 && (text.front() == u'0' || text.front() == u'1'))
        return text.front() == u'1';
    const QString trimmed = text.trimmed();
    if (trimmed.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    if (!isNumeric(text))
        return std::nullopt;
    return leadingNumber(text) != 0.0;
}

std::optional<qint16> toInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // default rounding mode: halves to even
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return static_cast<qint16>(rounded);
}

std::optional<qint16> toInt16(const QString &text)
{
    if (!isNumeric(text))
        return std::nullopt;
    return toInt16(leadingNumber(text));
}

bool trimmedEquals(const QString &a, const QString &b)
{
    return a.trimmed() == b.trimmed();
}

} // namespace Conversions
