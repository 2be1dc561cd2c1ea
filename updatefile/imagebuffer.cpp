#include "imagebuffer.h"

#include "updatefilereader.h"
#include "zarndriver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <QFile>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr uchar erasedByte = 0xFF;

size_t wholePages(u_int32_t size)
{
    constexpr size_t page = zarndriver::pageSize;
    return std::max<size_t>(1, (size_t(size) + page - 1) / page) * page;
}

size_t roundUp(size_t value, size_t unit)
{
    return (value + unit - 1) / unit * unit;
}

} // namespace

ImageBuffer::ImageBuffer(u_int32_t size)
{
    if (size > updatefilereader::imageBufferLimit)
        return;
    data_ = static_cast<uchar *>(std::malloc(wholePages(size)));
}

ImageBuffer::~ImageBuffer()
{
    release();
}

ImageBuffer::ImageBuffer(ImageBuffer &&other) noexcept
    : data_(std::exchange(other.data_, nullptr)), region(std::exchange(other.region, nullptr)),
      regionSize(std::exchange(other.regionSize, 0))
{
}

ImageBuffer &ImageBuffer::operator=(ImageBuffer &&other) noexcept
{
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        region = std::exchange(other.region, nullptr);
        regionSize = std::exchange(other.regionSize, 0);
    }
    return *this;
}

void ImageBuffer::release()
{
    if (region)
        ::munmap(region, regionSize);
    else
        std::free(data_);
    data_ = nullptr;
    region = nullptr;
    regionSize = 0;
}

ImageBuffer::View ImageBuffer::view(QFile &file, u_int32_t offset, u_int32_t size)
{
    release();
    if (size > updatefilereader::imageBufferLimit)
        return View::NoMemory;
    if (!file.isOpen())
        return View::Unreadable;
    const size_t systemPage = size_t(::sysconf(_SC_PAGESIZE));
    const quint64 dataStart = quint64(offset) + updatefilereader::headerSize;
    const quint64 fileSize = quint64(std::max<qint64>(file.size(), 0));
    const size_t inFile = dataStart < fileSize ? size_t(std::min<quint64>(size, fileSize - dataStart)) : 0;
    const size_t lead = size_t(dataStart % systemPage);
    const size_t capacity = wholePages(size);
    const size_t total = roundUp(lead + capacity, systemPage);

    // Anonymous memory for the whole buffer, the file's pages laid over its
    // front: private, so the erased end can be written into the last of them.
    void *memory = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return View::NoMemory;
    region = memory;
    regionSize = total;
    if (inFile > 0) {
        const int fd = file.handle();
        void *mapped = fd < 0 ? MAP_FAILED
                              : ::mmap(memory, roundUp(lead + inFile, systemPage), PROT_READ | PROT_WRITE,
                                       MAP_PRIVATE | MAP_FIXED, fd, off_t(dataStart - lead));
        if (mapped == MAP_FAILED) {
            // A file that cannot be mapped is read instead.
            qint64 got = -1;
            if (file.seek(qint64(dataStart)))
                got = file.read(reinterpret_cast<char *>(memory) + lead, qint64(inFile));
            if (got != qint64(inFile)) {
                release();
                return View::Unreadable;
            }
        }
    }
    data_ = static_cast<uchar *>(memory) + lead;
    std::memset(data_ + inFile, erasedByte, capacity - inFile);
    return View::Ready;
}
