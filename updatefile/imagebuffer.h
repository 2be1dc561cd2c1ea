#pragma once

#include <cstddef>
#include <QtGlobal>
#include <sys/types.h>

class QFile;

// A transfer buffer for one image, rounded up to whole pages so that a page
// rewrite never reads past it. Either empty memory (the flash's copy of an
// image) or a view of the image as its file holds it (view()), which costs no
// copy of the file: the file's pages are mapped privately and only the end
// past the file's last byte is filled in.
class ImageBuffer
{
public:
    ImageBuffer() = default;
    // Empty when the image is too large for the engine or memory is refused.
    explicit ImageBuffer(u_int32_t size);
    ~ImageBuffer();
    ImageBuffer(ImageBuffer &&other) noexcept;
    ImageBuffer &operator=(ImageBuffer &&other) noexcept;
    ImageBuffer(const ImageBuffer &) = delete;
    ImageBuffer &operator=(const ImageBuffer &) = delete;

    // The size bytes of the image whose header is at offset in file; past the
    // file's end it holds erased flash, so that writing and comparing agree on
    // it.
    enum class View { Ready, NoMemory, Unreadable };
    View view(QFile &file, u_int32_t offset, u_int32_t size);

    explicit operator bool() const { return data_ != nullptr; }
    uchar *data() const { return data_; }

private:
    void release();

    uchar *data_ = nullptr;
    void *region =
        nullptr; // a view's whole mapping, from the page that holds data_; else data_ is from malloc
    size_t regionSize = 0;
};
