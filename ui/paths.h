#pragma once
// File names between Qt and the core: the core takes the bytes of the file system's
// names, so names that are not valid UTF-8 still reach the right file.
#include <QFile>
#include <QString>
#include <string>

inline std::string ToNativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

inline QString FromNativePath(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}
