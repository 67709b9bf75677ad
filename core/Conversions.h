#pragma once

#include <QString>

#include <optional>

// The conversions that readers of the settings store apply to its texts. Every number the
// program reads from a text goes through these rules.
namespace Conversions {

// Leading-number rule: skips leading blanks, then reads an optional sign, decimal digits with at
// most one decimal point and an optional exponent, stopping at the first character that does not
// fit; blanks between the characters of the number are skipped. "&H" and "&O" introduce a
// hexadecimal or octal number. No digits at all gives 0.
double leadingNumber(const QString &text);

// True when the whole text (blanks around it aside) is a number under the leading-number rule.
bool isNumeric(const QString &text);

// Truth-value rule: a numeric text is true when its value is not 0; "True" and "False" in any
// case are accepted; anything else is a conversion failure (no value).
std::optional<bool> truthValue(const QString &text);

// Integer rule: the nearest 16-bit signed integer (halves go to the even neighbour). A value
// outside -32768..32767 or a text that is not a number is a conversion failure.
std::optional<qint16> toInt16(double value);
std::optional<qint16> toInt16(const QString &text);

// Trimmed comparison: blanks around both texts are ignored; the comparison is exact otherwise.
bool trimmedEquals(const QString &a, const QString &b);

} // namespace Conversions
