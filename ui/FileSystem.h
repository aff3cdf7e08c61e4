// The few direct file-system calls of the window's commands. Each failure raises the
// file-system error (EInOutError) with the code of the system's error.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// A name as the system takes it.
QByteArray systemName(const QString& name);

// Size in bytes of an existing file, opened for reading and writing (others may go on reading
// and writing it) just long enough to take its size.
int64_t fileSize(const QString& name);

// Deletes one file.
void deleteFile(const QString& name);

// Creates or replaces a file holding exactly bytes.
void writeFile(const QString& name, const QByteArray& bytes);

// Whether two names lead to the same existing file (same device and inode), whatever the path.
bool sameFile(const QString& a, const QString& b);
