#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QList>

#include <cstddef>
#include <cstdint>

// The fuzzer's bytes without a copy.
inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input cut at NUL bytes into at least `count` parts (missing parts are empty), so one input
// can carry several texts: a configuration, a page, an id.
inline QList<QByteArray> fuzzParts(const QByteArray &bytes, int count)
{
    QList<QByteArray> parts = bytes.split('\0');
    while (parts.size() < count)
        parts.append(QByteArray());
    return parts;
}

// Stops the run as a crash: an invariant of the code under test does not hold.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            qFatal("check failed: %s (%s:%d)", #condition, __FILE__, __LINE__);                    \
    } while (false)

// Every target runs inside an application object, as the programs do.
#define FUZZ_APPLICATION                                                                           \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)                                   \
    {                                                                                              \
        static QCoreApplication app(*argc, *argv);                                                 \
        return 0;                                                                                  \
    }
