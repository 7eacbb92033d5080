#pragma once

// Files the suites read and write: their data files beside them, and what the program under test
// leaves in its folders.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

// The file's bytes; nothing when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the file whole, making its folder first; whether every byte went.
inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// A data file's lines, but for blank lines and '#' comments. A data file that cannot be read ends
// the run: a suite must not pass for want of its cases.
inline QStringList dataLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    lines.removeIf(
        [](const QString& line) { return line.trimmed().isEmpty() || line.startsWith(u'#'); });
    return lines;
}
