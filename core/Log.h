#pragma once

#include <QByteArray>

// Level bits of WriteLog's flags word.
enum LogLevel {
    LOG_DEBUG = 0x02,
    LOG_INFO = 0x04,
    LOG_WARNING = 0x08,
    LOG_ERROR = 0x10,
    LOG_EMERG = 0x20,
};

// Appends one line to the log file: date and time, the level tag, the
// formatted message, CR LF. Safe from any thread; keeps no handle open.
void WriteLog(int flags, const char *format, ...) __attribute__((format(printf, 2, 3)));

namespace LogFile {
constexpr qint64 kSizeLimit = 10485760;
constexpr int kLineBuffer = 30720;
// The executable's path with ".log" appended, unless SetPath chose another.
QByteArray Path();
void SetPath(const QByteArray &path);
// "SimplePlay" from ".../modes/SimplePlay.cpp".
QByteArray SourceName(const char *file);
// "SimplePlay::Play" from "bool SimplePlay::Play()".
QByteArray FunctionName(const char *prettyFunction);
}

// Writes a line prefixed with the caller's source name, line and function.
#define PLOG(flags, format, ...)                                                        \
    WriteLog((flags), "[%s(%d):%s() ] " format, LogFile::SourceName(__FILE__).constData(), \
             __LINE__, LogFile::FunctionName(__PRETTY_FUNCTION__).constData(), ##__VA_ARGS__)
