#pragma once

#include <QString>

// The address file iptxt.txt in the user's data folder: the address shown when the program last
// ended, so the next run updates the host name only if the public address changed meanwhile. It
// holds one IPv4 address and a line end, or nothing at all; never a status text.
namespace AddressFile {

// iptxt.txt in the user's data folder.
QString fileName();

// The address in the file's first line (blanks around it ignored); empty when the file is
// missing, unreadable or holds no address.
QString read(const QString &fileName = AddressFile::fileName());

// The address in an address label's caption: the text after its first "IP:", when that is an
// address; empty for a status text ("IP Update Failed", "Updating IP. Please wait...").
QString addressInCaption(const QString &caption);

// Replaces the file (atomically, never through a link; the folder is created 0700) with the
// address and CR LF, or with nothing when the address is empty or not an address. False, with the
// reason in error, when it could not be written.
bool write(const QString &address, QString *error = nullptr, const QString &fileName = AddressFile::fileName());

// Four decimal numbers of 0..255 joined by dots.
bool isAddress(const QString &text);

} // namespace AddressFile
