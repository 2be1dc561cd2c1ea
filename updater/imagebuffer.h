#pragma once

#include "updatefilereader.h"
#include "zarndriver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <QFile>
#include <sys/types.h>

// A transfer buffer for one image, rounded up to whole pages so that a page
// rewrite never reads past it. Empty when the image is too large for the
// engine or the heap refuses.
class ImageBuffer
{
public:
    ImageBuffer() = default;
    explicit ImageBuffer(u_int32_t size)
    {
        if (size > updatefilereader::imageBufferLimit)
            return;
        constexpr size_t page = zarndriver::pageSize;
        capacity = std::max<size_t>(1, (size_t(size) + page - 1) / page) * page;
        bytes.reset(static_cast<uchar *>(std::malloc(capacity)));
    }

    explicit operator bool() const { return bytes != nullptr; }
    uchar *data() const { return bytes.get(); }

    // The image's bytes from the file; past the file's end the buffer holds
    // erased flash, so that writing and comparing agree on it.
    bool fill(QFile &file, u_int32_t offset, u_int32_t size)
    {
        constexpr uchar erasedByte = 0xFF;
        const u_int32_t dataStart = offset + updatefilereader::headerSize;
        qint64 got = -1;
        if (file.seek(dataStart))
            got = file.read(reinterpret_cast<char *>(bytes.get()), size);
        if (got < 0)
            return false;
        std::memset(bytes.get() + got, erasedByte, capacity - size_t(got));
        return true;
    }

private:
    struct Free
    {
        void operator()(uchar *p) const { std::free(p); }
    };
    std::unique_ptr<uchar, Free> bytes;
    size_t capacity = 0;
};
