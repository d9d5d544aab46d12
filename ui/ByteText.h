#pragma once

#include <QString>

#include <string>
#include <string_view>

// The window's texts are byte strings (names and paths as the server or
// the file system gives them, UTF-8 where they are text); the widgets show
// QStrings. A name need not be UTF-8 (a Latin-1 "caf\xE9.txt"), and the
// path built from what the window shows must still be the original bytes.
//
// So the conversion is lossless: a byte that is not part of well-formed
// UTF-8 becomes a lone surrogate U+DC80..U+DCFF (shown as a replacement
// mark), and that surrogate becomes the byte again. Well-formed UTF-8 reads
// as its characters, a leading byte order mark included.

QString ByteText_FromBytes(std::string_view s);

// Lone surrogates U+DC80..U+DCFF give their byte back; everything else is
// written as UTF-8 (QString::toUtf8).
std::string ByteText_ToBytes(const QString& s);

// A byte count as people read it: "512 B", "1.5 KiB", "123.4 MiB".
std::string ByteText_Count(double dBytes);
